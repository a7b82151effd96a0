// The command line: argument scan, usage and exit statuses, input recognition and the
// console of a whole run of the built program.
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "hes/hes_writer.h"
#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

const std::string kUsage = "Usage: quorvel <input> <output>\n";
const std::string kTenGlyphs(10, '\xB1');

TEST(ArgumentScan, OptionsAndPaths)
{
    CommandLine l = scanArguments({});
    EXPECT_FALSE(l.haveInput || l.haveOutput || l.help);

    l = scanArguments({"-raw", "a.vgm", "-x", "b.hes", "c.hes"});
    EXPECT_EQ(l.inputPath, "a.vgm");
    EXPECT_EQ(l.outputPath, "b.hes");
    EXPECT_EQ(l.flags, kFlagRaw);
    EXPECT_FALSE(l.help);

    EXPECT_EQ(scanArguments({"a.vgm", "b.hes", "-raw"}).flags, kFlagRaw);
    EXPECT_EQ(scanArguments({"a.vgm", "b.hes", "-RAW", "-raw2"}).flags, 0u);
    for (const char* help : {"-h", "-help", "-?"}) EXPECT_TRUE(scanArguments({"a", "b", help}).help);
    EXPECT_FALSE(scanArguments({"a", "b", "-H"}).help);
    // An input that begins with '-' is taken for an option.
    EXPECT_FALSE(scanArguments({"-song.vgm", "b.hes"}).haveOutput);
}

TEST(ArgumentScan, QuoteStripping)
{
    CommandLine l = scanArguments({"\"my song.vgm\"", "\"out.hes"});
    EXPECT_EQ(l.inputPath, "my song.vgm");
    EXPECT_EQ(l.outputPath, "out.he");
    l = scanArguments({"\"", "a\"b\""});
    EXPECT_TRUE(l.haveInput);
    EXPECT_EQ(l.inputPath, "");
    EXPECT_EQ(l.outputPath, "a\"b\"");
}

TEST(CommandLineRun, UsageAndExitStatus)
{
    ScratchDir dir;
    RunResult r = runQuorvel({}, dir.path());
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");

    r = runQuorvel({"song.vgm"}, dir.path());
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.status, 2);

    writeFile(dir / "song.vgm", VgmBuilder().commands({0x62}).finish());
    installPlayer(dir.path());
    r = runQuorvel({"song.vgm", "out.hes", "-h"}, dir.path());
    EXPECT_EQ(r.out.rfind(kBanner + kUsage + "  -raw", 0), 0u) << r.out; // the help follows the usage line
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir / "out.hes"), Bytes());
}

// The expected HES file for `input` with the repository's player image.
Bytes expectedHes(const Bytes& input)
{
    const Bytes image = convert(input).image;
    const auto header = makeHesHeader(static_cast<std::uint32_t>(image.size()));
    Bytes hes(header.begin(), header.end());
    const Bytes player = readFile(std::string(QUORVEL_SOURCE_DIR) + "/drovan_huc6280.bin");
    hes.insert(hes.end(), player.begin() + 0x20, player.begin() + 0x4000);
    hes.insert(hes.end(), image.begin(), image.end());
    return hes;
}

TEST(CommandLineRun, ConvertsPlainAndCompressedInput)
{
    ScratchDir dir;
    installPlayer(dir.path());
    VgmBuilder v;
    v.commands({0x50, 0x9F, 0x52, 0x25, 0x00}).loopHere().commands({0x73, 0x84, 0x62});
    const Bytes vgm = v.finish("song");
    const Bytes gz = gzipBytes(vgm);
    const Bytes hes = expectedHes(vgm);
    // gzread reads concatenated members as one stream and ignores what follows the
    // last member when it is not gzip.
    Bytes members = gzipBytes(Bytes(vgm.begin(), vgm.begin() + 70));
    const Bytes rest = gzipBytes(Bytes(vgm.begin() + 70, vgm.end()));
    members.insert(members.end(), rest.begin(), rest.end());
    Bytes trailing = members;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k', 0, 0, 0});
    const std::string done = kTenGlyphs + "\nDone!\n";
    const std::string unzip = "Unzipping file\n";

    struct Case {
        std::string name;
        const Bytes& content;
        bool unzips;
    };
    const Case cases[] = {
        {"song.vgm", vgm, false},
        {"song.vgz", gz, true},
        {"song-gz.vgm", gz, true},       // probed: not "Vgm "
        {"plain.vgz", vgm, true},        // compressed name, plain content
        {"PLAIN.VGZ", vgm, true},
        {"members.vgz", members, true},
        {"trailing.vgz", trailing, true},
        {"plain.vgz.bak", vgm, false},
        {"plain.zip", vgm, false},
        {"my song \"\xC3\xA9t\xC3\xA9\".vgm", vgm, false},
    };
    for (const Case& c : cases) {
        writeFile(dir / c.name, c.content);
        const RunResult r = runQuorvel({c.name, "out.hes"}, dir.path());
        EXPECT_EQ(r.out, kBanner + (c.unzips ? unzip : "") + "Converting " + c.name + ":" + done) << c.name;
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(readFile(dir / "out.hes"), hes) << c.name;
    }

    // A path passed with its quotes, and the raw option before the paths.
    const RunResult r = runQuorvel({"-raw", "\"song.vgm\"", "\"out.bin\""}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir / "out.bin"), convert(vgm).image);
}

TEST(CommandLineRun, InputThatCannotBeRead)
{
    ScratchDir dir;
    installPlayer(dir.path());
    const Bytes vgm = VgmBuilder().commands({0x62}).finish();
    writeFile(dir / "empty.vgm", {});
    writeFile(dir / "three.vgm", {0x56, 0x67, 0x6D});
    writeFile(dir / "four.vgm", {0x56, 0x67, 0x6D, 0x20});
    Bytes bad = gzipBytes(vgm);
    bad[bad.size() - 6] ^= 0x01; // the CRC
    writeFile(dir / "crc.vgz", bad);
    bad = gzipBytes(vgm);
    bad[bad.size() - 1] ^= 0x01; // the stored length, the CRC right
    writeFile(dir / "length.vgz", bad);
    bad = gzipBytes(vgm);
    bad[3] |= 0x20; // a reserved header flag
    writeFile(dir / "flags.vgz", bad);
    const Bytes gz = gzipBytes(vgm);
    writeFile(dir / "cut.vgz", Bytes(gz.begin(), gz.end() - 9));
    writeFile(dir / "illegal.vgm", VgmBuilder().commands({0x67, 0x12}).finish());
    writeFile(dir / "cut-at-buffer-end.vgz",
              readFile(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/cut-at-buffer-end.vgz"));
    ::mkdir((dir / "folder.vgm").c_str(), 0755);

    struct Case {
        std::string input;
        std::string out;
    };
    const Case cases[] = {
        {"missing.vgm", "Error: Failed to open missing.vgm\n"},
        {"missing.vgz", "Unzipping file\nError: Failed to gzopen missing.vgz\n"},
        {"\"", "Error: Failed to open \n"},
        {"folder.vgm", "Error: Failed to open folder.vgm\n"},
        {"empty.vgm", "Unzipping file\nError: empty.vgm is not a VGM file: it does not begin with \"Vgm \"\n"},
        {"three.vgm", "Unzipping file\nError: three.vgm is not a VGM file: it does not begin with \"Vgm \"\n"},
        {"four.vgm", "Error: the input is 4 bytes, shorter than a 64-byte VGM header\n"},
        {"crc.vgz", "Unzipping file\nError: Failed to read VGM data\n"},
        {"length.vgz", "Unzipping file\nError: Failed to read VGM data\n"},
        {"flags.vgz", "Unzipping file\nError: Failed to read VGM data\n"},
        {"cut.vgz", "Unzipping file\nError: Failed to read VGM data\n"},
        {"cut-at-buffer-end.vgz", "Unzipping file\nError: Failed to read VGM data\n"},
        {"illegal.vgm", "Converting illegal.vgm:Illegal command: 0x67 0x12\n"},
    };
    for (const Case& c : cases) {
        writeFile(dir / "out.hes", {1, 2, 3});
        const RunResult r = runQuorvel({c.input, "out.hes"}, dir.path());
        EXPECT_EQ(r.out, kBanner + c.out) << c.input;
        EXPECT_EQ(r.status, 1) << c.input;
        EXPECT_EQ(readFile(dir / "out.hes"), (Bytes{1, 2, 3})) << c.input;
    }
}

TEST(CommandLineRun, CompressedInputCutAnywhereIsRefused)
{
    ScratchDir dir;
    installPlayer(dir.path());
    VgmBuilder v;
    v.commands(Bytes(3000, 0x62)).dataBlock(0x00, Bytes(5000, 0x41));
    const Bytes gz = gzipBytes(v.finish("cut"));
    for (int eighth = 1; eighth < 8; ++eighth) {
        writeFile(dir / "cut.vgz", Bytes(gz.begin(), gz.begin() + static_cast<long>(gz.size() * eighth / 8)));
        writeFile(dir / "out.hes", {4});
        const RunResult r = runQuorvel({"cut.vgz", "out.hes"}, dir.path());
        EXPECT_EQ(r.out, kBanner + "Unzipping file\nError: Failed to read VGM data\n") << eighth;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(readFile(dir / "out.hes"), (Bytes{4}));
    }
}

// A tiny .vgz that inflates past what 32-bit offsets address is refused, not loaded.
TEST(CommandLineRun, CompressedInputBeyondFourGibibytesIsRefused)
{
    ScratchDir dir;
    installPlayer(dir.path());
    const Bytes member = gzipBytes(Bytes(std::size_t{1} << 26, 0x00)); // 64 MiB of zeros
    std::FILE* f = std::fopen((dir / "bomb.vgz").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int n = 0; n < 65; ++n) std::fwrite(member.data(), 1, member.size(), f); // 65 members: 4160 MiB
    std::fclose(f);
    const RunResult r = runQuorvel({"bomb.vgz", "out.hes"}, dir.path());
    EXPECT_EQ(r.out, kBanner + "Unzipping file\n"
                               "Error: the input is longer than 4294967295 bytes, the most a VGM file can address\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.entries().size(), 2u); // the player and the input, nothing else
}

} // namespace
} // namespace quorvel::test
