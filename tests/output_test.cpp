// The output stage of the built program: the player image rule, raw output, and that a
// failed write never leaves a damaged or half-written file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "hes/hes_writer.h"
#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

const std::string kDone = std::string(10, '\xB1') + "\nDone!\n";

class OutputStage : public ::testing::Test {
protected:
    void SetUp() override
    {
        song = VgmBuilder().commands({0x50, 0x9F, 0x62}).finish("t");
        image = convert(song).image;
        writeFile(dir / "in.vgm", song);
    }

    RunResult convertTo(const std::string& output, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args{"in.vgm", output};
        args.insert(args.end(), extra.begin(), extra.end());
        return runQuorvel(args, dir.path());
    }

    ScratchDir dir;
    Bytes song;
    Bytes image;
};

TEST_F(OutputStage, PlayerImageBytesAreCopiedFromOffset0x20)
{
    Bytes player(0x5000);
    for (std::size_t n = 0; n < player.size(); ++n) player[n] = static_cast<std::uint8_t>(n * 7 + n / 256);
    for (const std::size_t length : {std::size_t{0x5000}, std::size_t{0x4000}, std::size_t{0x1000},
                                     std::size_t{0x20}, std::size_t{0}}) {
        writeFile(dir / "drovan_huc6280.bin", Bytes(player.begin(), player.begin() + static_cast<long>(length)));
        const RunResult r = convertTo("out.hes");
        EXPECT_EQ(r.status, 0);
        const Bytes hes = readFile(dir / "out.hes");
        ASSERT_EQ(hes.size(), 0x4000 + image.size()) << length;
        const auto header = makeHesHeader(static_cast<std::uint32_t>(image.size()));
        EXPECT_TRUE(std::equal(header.begin(), header.end(), hes.begin()));
        for (std::size_t n = 0x20; n < 0x4000; ++n) {
            const std::uint8_t want = n < length ? player[n] : 0;
            if (hes[n] != want) {
                ADD_FAILURE() << "player length 0x" << std::hex << length << ", byte 0x" << n;
                break;
            }
        }
        EXPECT_EQ(Bytes(hes.begin() + 0x4000, hes.end()), image);
    }
}

TEST_F(OutputStage, RawOutputIsTheImageAlone)
{
    installPlayer(dir.path());
    const RunResult r = convertTo("out.raw", {"-raw"});
    EXPECT_EQ(r.out, kBanner + "Converting in.vgm:" + kDone);
    EXPECT_EQ(readFile(dir / "out.raw"), image);
}

TEST_F(OutputStage, MissingPlayerImageTouchesNothing)
{
    // A copy of the program with no player image beside it or installed.
    ::mkdir((dir / "bin").c_str(), 0755);
    const std::string program = dir / "bin/quorvel";
    writeFile(program, readFile(QUORVEL_BINARY));
    ::chmod(program.c_str(), 0755);
    for (const bool raw : {false, true}) {
        writeFile(dir / "out.hes", {9, 9});
        std::vector<std::string> args{"in.vgm", "out.hes"};
        if (raw) args.push_back("-raw");
        const RunResult r = runProgram(program.c_str(), args, dir.path());
        EXPECT_EQ(r.out, kBanner + "Converting in.vgm:" + std::string(10, '\xB1') +
                             "\nError: unable to open drovan_huc6280.bin\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(readFile(dir / "out.hes"), (Bytes{9, 9}));
    }
}

TEST_F(OutputStage, OutputThatCannotBeWritten)
{
    installPlayer(dir.path());
    writeFile(dir / "file", {7});
    ::mkdir((dir / "folder").c_str(), 0755);
    struct Case {
        std::string output;
        std::string error;
    };
    const Case cases[] = {
        {"missing/out.hes", "Error: unable to open missing/out.hes\n"},
        {"file/out.hes", "Error: unable to open file/out.hes\n"},
        {"folder", "Error: unable to open folder\n"},
        {"/dev/full", "Error: Failed to write /dev/full\n"},
        {"\"", "Error: unable to open \n"},
        {std::string(300, 'n') + ".hes", "Error: unable to open " + std::string(300, 'n') + ".hes\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = convertTo(c.output);
        EXPECT_EQ(r.out, kBanner + "Converting in.vgm:" + std::string(10, '\xB1') + "\n" + c.error);
        EXPECT_EQ(r.status, 1) << c.output;
    }
    EXPECT_EQ(readFile(dir / "file"), (Bytes{7}));
    const auto names = dir.entries();
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }), 0);
}

TEST_F(OutputStage, ReplacedFileKeepsItsModeAndLinksAreFollowed)
{
    installPlayer(dir.path());
    writeFile(dir / "kept.hes", {1});
    ::chmod((dir / "kept.hes").c_str(), 0600);
    EXPECT_EQ(convertTo("kept.hes").status, 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / "kept.hes").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(convertTo("new.hes").status, 0);
    ASSERT_EQ(::stat((dir / "new.hes").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);

    writeFile(dir / "target.hes", {});
    ASSERT_EQ(::symlink("target.hes", (dir / "link.hes").c_str()), 0);
    EXPECT_EQ(convertTo("link.hes").status, 0);
    struct stat lst;
    ASSERT_EQ(::lstat((dir / "link.hes").c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(readFile(dir / "target.hes").size(), 0x4000 + image.size());
}

} // namespace
} // namespace quorvel::test
