// What new users get wrong, through the built programs: an output that would replace a
// song, an input that is no VGM, album runs with failing inputs, options that do less
// than they seem, and the preview's arguments. Each refusal leaves every file as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {
namespace {

const std::string kNotVgm = " is not a VGM file: it does not begin with \"Vgm \"\n";

class Misuse : public ::testing::Test {
protected:
    void SetUp() override
    {
        installPlayer(dir.path());
        VgmBuilder v;
        v.commands({0x50, 0x9F, 0x62, 0x62});
        song = v.finish("song");
        writeFile(dir / "a.vgm", song);
        writeFile(dir / "b.vgz", gzipBytes(song));
    }
    // The folder's files and their bytes.
    std::vector<std::pair<std::string, Bytes>> snapshot() const
    {
        std::vector<std::pair<std::string, Bytes>> files;
        for (const std::string& name : dir.entries()) files.emplace_back(name, readFile(dir / name));
        return files;
    }
    ScratchDir dir;
    Bytes song;
};

// The output is the input, by any name, or another song: refused, nothing touched.
TEST_F(Misuse, NoSongIsWrittenOver)
{
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.vgm", (dir / "link.hes").c_str()), 0);
    ASSERT_EQ(::link((dir / "a.vgm").c_str(), (dir / "hard.hes").c_str()), 0);
    const auto before = snapshot();
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"a.vgm", "a.vgm"}, "Error: the output a.vgm is the input a.vgm itself; nothing was written\n"},
        {{"-raw", "a.vgm", "sub/../a.vgm"}, "Error: the output sub/../a.vgm is the input a.vgm itself; nothing was written\n"},
        {{"a.vgm", "link.hes"}, "Error: the output link.hes is the input a.vgm itself; nothing was written\n"},
        {{"a.vgm", "hard.hes"}, "Error: the output hard.hes is the input a.vgm itself; nothing was written\n"},
        {{"b.vgz", "a.vgm"}, "Error: a.vgm holds a VGM song, which is never written over; nothing was written\n"},
        {{"-pce", "a.vgm", "b.vgz"}, "Error: b.vgz holds a VGM song, which is never written over; nothing was written\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = runQuorvel(c.args, dir.path());
        EXPECT_EQ(r.out, kBanner + c.line) << c.args.back();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(snapshot(), before) << c.args.back();
    }
    // The playlist beside the output would replace a song.
    writeFile(dir / "sub/x.m3u", song);
    RunResult r = runQuorvel({"-m3u", "a.vgm", "sub/x.hes"}, dir.path());
    EXPECT_EQ(r.out, kBanner + "Error: sub/x.m3u holds a VGM song, which is never written over; nothing was written\n");
    EXPECT_FALSE(std::ifstream(dir / "sub/x.hes").good());
    EXPECT_EQ(readFile(dir / "sub/x.m3u"), song);

    // quorvel-album given quorvel's order: the first song is the output.
    const auto albumBefore = snapshot();
    r = runAlbum({"a.vgm", "b.vgz", "album.hes"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: a.vgm holds a VGM song, and the output comes first: quorvel-album <output> "
                         "<input>...; nothing was written\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Converting"), std::string::npos);
    EXPECT_EQ(snapshot(), albumBefore);
    writeFile(dir / "x.hes", {'H', 'E', 'S', 'M'});
    r = runAlbum({"x.hes", "a.vgm", "x.hes"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: the output x.hes is the input x.hes itself"), std::string::npos) << r.out;

    // What is not a song is replaced as ever: an old HES file, and a converted image
    // (-raw's keeps the VGM header, its version byte rewritten), plain or packed.
    writeFile(dir / "old.hes", {'H', 'E', 'S', 'M'});
    r = runQuorvel({"a.vgm", "old.hes"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_GT(readFile(dir / "old.hes").size(), 4u);
    for (int again = 0; again < 2; ++again) {
        r = runQuorvel({"-raw", "a.vgm", "out.raw"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
    }
    writeFile(dir / "raw.gz", gzipBytes(readFile(dir / "out.raw")));
    EXPECT_EQ(runQuorvel({"a.vgm", "raw.gz"}, dir.path()).status, 0);
}

// Anything that does not begin with "Vgm " once inflated is refused by name; what
// does is converted as ever.
TEST_F(Misuse, WhatIsNotAVgmIsRefused)
{
    ASSERT_EQ(runQuorvel({"a.vgm", "song.hes"}, dir.path()).status, 0);
    writeFile(dir / "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    writeFile(dir / "notes.vgz", gzipBytes(readFile(dir / "notes.txt")));
    writeFile(dir / "vgm-lower.vgm", {'v', 'g', 'm', ' ', 0, 0, 0, 0});
    writeFile(dir / "program", readFile(QUORVEL_BINARY));
    for (const std::string name : {"song.hes", "notes.txt", "notes.vgz", "vgm-lower.vgm", "program"}) {
        const auto before = snapshot();
        const RunResult r = runQuorvel({name, "out.hes"}, dir.path());
        EXPECT_EQ(r.out, kBanner + "Unzipping file\nError: " + name + kNotVgm) << name;
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(snapshot(), before) << name;
    }
    const RunResult r = runQuorvel({"b.vgz", "out.hes"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir / "out.hes"), readFile(dir / "song.hes"));
}

// Every error line names its song; the song limit is told before anything is
// converted; the run ends with what went in and what was left out.
TEST_F(Misuse, AlbumNamesItsSongs)
{
    writeFile(dir / "five.vgm", {1, 2, 3, 4, 5});
    writeFile(dir / "cut.vgz", Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0x4B});
    RunResult r = runAlbum({"mix.hes", "a.vgm", "five.vgm", "cut.vgz", "b.vgz"}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("\nError: five.vgm" + kNotVgm), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nError: cut.vgz: Failed to read VGM data\n"), std::string::npos) << r.out;
    const std::string summary = "Done!\nmix.hes holds 2 of the 4 songs; left out: five.vgm (not a VGM file: it does "
                                "not begin with \"Vgm \"); cut.vgz (Failed to read VGM data)\n";
    ASSERT_GE(r.out.size(), summary.size());
    EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary);

    r = runAlbum({"all.hes", "a.vgm", "b.vgz"}, dir.path());
    EXPECT_EQ(r.status, 0);
    const std::string all = "Done!\nall.hes holds 2 of the 2 songs\n";
    EXPECT_EQ(r.out.substr(r.out.size() - all.size()), all);

    std::vector<std::string> many = {"many.hes"};
    for (int n = 0; n < 40; ++n) many.push_back(n < 31 ? "a.vgm" : "extra" + std::to_string(n) + ".vgm");
    const auto before = snapshot();
    r = runAlbum(many, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Converting"), std::string::npos) << "nothing is converted first";
    EXPECT_NE(r.out.find("Error: an album holds at most 31 songs; these inputs do not fit: extra31.vgm, "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(snapshot(), before);
}

// Options that write less than they seem say so; what is written is what was asked.
TEST_F(Misuse, OptionsThatWriteLessSaySo)
{
    RunResult r = runQuorvel({"a.vgm", "song.hes"}, dir.path());
    ASSERT_EQ(r.status, 0);
    for (const std::string name : {"song.pce", "SONG.PCE"}) {
        r = runQuorvel({"a.vgm", name}, dir.path());
        EXPECT_EQ(r.out.rfind(kBanner + "Warning: " + name + " is written as an HES file; -pce writes a HuCard image\n", 0),
                  0u)
            << r.out;
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(readFile(dir / name), readFile(dir / "song.hes"));
    }
    r = runQuorvel({"-pce", "a.vgm", "card.pce"}, dir.path());
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;

    r = runAlbum({"-pce", "-m3u", "mix.pce", "a.vgm", "b.vgz"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Warning: -m3u writes no playlist beside a HuCard image; none is written\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(std::ifstream(dir / "mix.m3u").good());
    r = runAlbum({"mix2.pce", "a.vgm"}, dir.path());
    EXPECT_NE(r.out.find("Warning: mix2.pce is written as an HES file; -pce writes a HuCard image\n"), std::string::npos);
}

#ifdef QUORVEL_PREVIEW_BINARY
// The preview lists, checks its arguments and renders the track asked for.
TEST_F(Misuse, PreviewChecksWhatItIsGiven)
{
    ASSERT_EQ(runAlbum({"mix.hes", "a.vgm", "b.vgz"}, dir.path()).status, 0);
    const auto preview = [this](const std::vector<std::string>& args) {
        return runProgram(QUORVEL_PREVIEW_BINARY, args, dir.path());
    };
    RunResult r = preview({"-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  -l "), std::string::npos) << r.out;
    EXPECT_EQ(preview({"mix.hes"}).status, 2);
    r = preview({"-l", "mix.hes"});
    EXPECT_EQ(r.out, "mix.hes: 2 tracks; voices: \"Wave 1\" \"Wave 2\" \"Wave 3\" \"Wave 4\" \"Multi 1\" \"Multi 2\"\n");
    r = preview({"-l", "a.vgm"});
    EXPECT_EQ(r.out.rfind("a.vgm: 1 track; voices: \"", 0), 0u) << r.out;

    const auto before = snapshot();
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case refused[] = {
        {{"mix.hes", "x.wav", "abc"}, "Error: the length \"abc\" is not a number of seconds from 0 to 3600\n"},
        {{"mix.hes", "x.wav", "-5"}, "Error: the length \"-5\" is not a number of seconds from 0 to 3600\n"},
        {{"mix.hes", "x.wav", "0"}, "Error: the length \"0\" is not a number of seconds from 0 to 3600\n"},
        {{"mix.hes", "x.wav", "1", "Bogus"}, "Error: no voice \"Bogus\" in mix.hes (-l lists them)\n"},
        {{"-t", "3", "mix.hes", "x.wav", "1"}, "Error: no track 3 in mix.hes, which has 2 tracks\n"},
        {{"-t", "0", "mix.hes", "x.wav", "1"}, "Error: no track 0 in mix.hes, which has 2 tracks\n"},
        {{"-q", "mix.hes", "x.wav"}, "Error: unknown option -q (-h lists the options)\n"},
        {{"mix.hes", "a.vgm", "1"}, "Error: a.vgm holds a VGM song, which is never written over; nothing was written\n"},
    };
    for (const Case& c : refused) {
        r = preview(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(snapshot(), before);
    }
    r = preview({"-t", "2", "mix.hes", "two.wav", "0.5", "Wave 1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(dir / "two.wav").size(), 44u + 22050u * 4);
}
#endif

} // namespace
} // namespace quorvel::test
