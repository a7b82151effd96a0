// What music players are given: the GD3 tag and sample counts read from a VGM, the
// playlist written from them, -m3u and -version on the command line, and
// quorvel-album's handling of inputs that fail, of albums too large and of outputs
// that cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "convert/track_info.h"
#include "hes/playlist.h"
#include "tests/support.h"
#include "tools/songs.h"

namespace quorvel::test {
namespace {

const std::vector<std::u16string> kTag = {u"Green Hill, Act 1", u"グリーンヒル", u"A Game", u"ゲーム", u"Mega Drive",
                                          u"", u"Someone \\ Else", u"", u"1991", u"quorvel", u"notes"};

Bytes taggedSong(const Bytes& tag, std::uint32_t total = 441000, std::uint32_t loop = 220500)
{
    VgmBuilder v(0x150);
    v.field(0x0C, 3579545).field(0x18, total);
    if (loop != 0) v.loopHere().field(0x20, loop);
    v.commands({0x50, 0x9F}).wait(22050);
    return v.finishWithTag(tag);
}

TEST(TrackInfo, ReadsTheTagAndTheSampleCounts)
{
    const TrackInfo info = readTrackInfo(taggedSong(VgmBuilder::gd3(kTag)));
    EXPECT_EQ(info.title, "Green Hill, Act 1");
    EXPECT_EQ(info.titleJapanese, "グリーンヒル");
    EXPECT_EQ(info.game, "A Game");
    EXPECT_EQ(info.author, "Someone \\ Else");
    EXPECT_EQ(info.notes, "notes");
    EXPECT_EQ(info.totalSamples, 441000u);
    EXPECT_EQ(info.loopSamples, 220500u);
    EXPECT_EQ(readTrackInfo(taggedSong(VgmBuilder::gd3(kTag), 1000, 0)).loopSamples, 0u);

    // Characters beyond the 16-bit plane come as surrogate pairs; unpaired halves,
    // control characters and an odd last byte do not reach the text.
    const std::uint8_t text[] = {0x3D, 0xD8, 0x00, 0xDE, 0x41, 0x00, 0x00, 0xD8, 0x42, 0x00, 0x0A, 0x00, 0x43, 0x00, 0x44};
    EXPECT_EQ(utf8FromUtf16(text, sizeof text), "\xF0\x9F\x98\x80" "A\xEF\xBF\xBD" "B C");
}

TEST(TrackInfo, DamagedTagsYieldWhatTheyHoldWhole)
{
    const Bytes tag = VgmBuilder::gd3({u"Title", u"", u"Game"});
    Bytes song = taggedSong(tag);
    const std::size_t at = song.size() - tag.size();

    struct Case {
        const char* what;
        Bytes bytes;
        const char* title;
        const char* game;
    };
    std::vector<Case> cases;
    Bytes noTag = song;
    setLe32(noTag, 0x14, 0);
    cases.push_back({"no tag", noTag, "", ""});
    Bytes pastEnd = song;
    setLe32(pastEnd, 0x14, static_cast<std::uint32_t>(song.size()));
    cases.push_back({"offset past the end", pastEnd, "", ""});
    Bytes wrongMagic = song;
    wrongMagic[at] = 'g';
    cases.push_back({"not a GD3 tag", wrongMagic, "", ""});
    Bytes longer = song;
    setLe32(longer, at + 8, 0xFFFFFFF0u);
    cases.push_back({"length past the end", longer, "Title", "Game"});
    cases.push_back({"cut inside the game", Bytes(song.begin(), song.end() - 4), "Title", "Gam"});
    cases.push_back({"cut inside the header", Bytes(song.begin(), song.begin() + static_cast<long>(at) + 6), "", ""});
    Bytes odd = song;
    setLe32(odd, at + 8, getLe32(odd, at + 8) - 3);
    cases.push_back({"odd length", odd, "Title", "Gam"});
    Bytes unterminated = Bytes(song.begin(), song.begin() + static_cast<long>(at) + 12);
    for (char c : std::string("Endless")) unterminated.insert(unterminated.end(), {static_cast<std::uint8_t>(c), 0});
    setLe32(unterminated, at + 8, 14);
    cases.push_back({"no terminator", unterminated, "Endless", ""});
    for (const Case& c : cases) {
        const TrackInfo info = readTrackInfo(c.bytes);
        EXPECT_EQ(info.title, c.title) << c.what;
        EXPECT_EQ(info.game, c.game) << c.what;
    }
    EXPECT_EQ(readTrackInfo(Bytes(0x10, 0)).totalSamples, 0u);
}

TEST(Playlist, LinesAndPaths)
{
    TrackInfo info = readTrackInfo(taggedSong(VgmBuilder::gd3(kTag)));
    std::vector<PlaylistEntry> entries = {playlistEntry(info, "in/song.vgz")};
    info.title.clear();
    entries.push_back(playlistEntry(info, "in/song.vgz")); // the Japanese title
    info.titleJapanese.clear();
    info.loopSamples = 0;
    entries.push_back(playlistEntry(info, "in/b\\c,d.vgm")); // the file name
    EXPECT_EQ(playlistText("a,b:c.hes", "A Game", "Someone", entries),
              "# A Game\n"
              "# Composer: Someone\n"
              "a\\,b\\:c.hes::HES,1,Green Hill\\, Act 1,0:10.000,0:05.000-,10,\n"
              "a\\,b\\:c.hes::HES,2,グリーンヒル,0:10.000,0:05.000-,10,\n"
              "a\\,b\\:c.hes::HES,3,b\\\\c\\,d,0:10.000,,0,\n");
    EXPECT_EQ(playlistText("x.hes", "", "", {PlaylistEntry{"t", 0, 0}}), "x.hes::HES,1,t,,,0,\n");
    EXPECT_EQ(playlistText("x.hes", "G", "", {PlaylistEntry{"t", 0, 0}}), "# G\n# Tagging: quorvel\nx.hes::HES,1,t,,,0,\n");

    EXPECT_EQ(playlistPath("out.hes"), "out.m3u");
    EXPECT_EQ(playlistPath("music/a.b.hes"), "music/a.b.m3u");
    EXPECT_EQ(playlistPath("music.d/out"), "music.d/out.m3u");
    EXPECT_EQ(playlistPath(".hes"), ".hes.m3u");
}

class Listening : public ::testing::Test {
protected:
    void SetUp() override
    {
        installPlayer(dir.path());
        writeFile(dir / "song.vgm", taggedSong(VgmBuilder::gd3(kTag)));
    }
    ScratchDir dir;
};

TEST_F(Listening, VersionAndPlaylistOptions)
{
    for (const char* option : {"-version", "--version"}) {
        const RunResult r = runQuorvel({"song.vgm", option, "out.hes"}, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(kBanner + "quorvel 0.", 0), 0u) << r.out;
        const RunResult album = runAlbum({option}, dir.path());
        EXPECT_EQ(album.status, 0);
        EXPECT_NE(album.out.find("\nquorvel-album 0."), std::string::npos) << album.out;
    }
    EXPECT_EQ(dir.entries().size(), 2u); // nothing converted

    EXPECT_EQ(runQuorvel({"-m3u", "song.vgm", "out.hes"}, dir.path()).status, 0);
    EXPECT_EQ(readFile(dir / "out.m3u").size() > 0, true);
    const RunResult raw = runQuorvel({"-m3u", "-raw", "song.vgm", "raw.bin"}, dir.path());
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.out.rfind(kBanner + "Warning: -m3u writes no playlist with -raw; none is written\n", 0), 0u) << raw.out;
    EXPECT_EQ(readFile(dir / "raw.m3u").size(), 0u) << "a raw image gets no playlist";
    EXPECT_EQ(runQuorvel({"song.vgm", "plain.hes"}, dir.path()).status, 0);
    EXPECT_EQ(readFile(dir / "plain.m3u").size(), 0u) << "no playlist without -m3u";
}

TEST_F(Listening, PlaylistThatCannotBeWrittenLeavesTheOutputsAsTheyWere)
{
    writeFile(dir / "kept.hes", {9});
    ASSERT_EQ(::mkdir((dir / "kept.m3u").c_str(), 0755), 0);
    RunResult r = runQuorvel({"-m3u", "song.vgm", "kept.hes"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: unable to open kept.m3u\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "kept.hes"), (Bytes{9}));

    ASSERT_EQ(::symlink("/dev/full", (dir / "full.m3u").c_str()), 0);
    r = runQuorvel({"-m3u", "song.vgm", "full.hes"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: Failed to write full.m3u\n"), std::string::npos) << r.out;
    const auto names = dir.entries();
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }), 0)
        << "no temporary file is left";
}

TEST_F(Listening, AlbumSkipsInputsThatFailAndRefusesWhatDoesNotFit)
{
    writeFile(dir / "broken.vgm", {'V', 'g', 'm', ' ', 0x42, 0x42, 0x42, 0x42, 0x42, 0x42});
    RunResult r = runAlbum({"album.hes", "song.vgm", "missing.vgm", "broken.vgm", "\"song.vgm\""}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("Error: Failed to open missing.vgm\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error: broken.vgm: the input is 10 bytes, shorter than a 64-byte VGM header\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Done!\nalbum.hes holds 2 of the 4 songs; left out: missing.vgm (Failed to open "
                         "missing.vgm); broken.vgm (the input is 10 bytes, shorter than a 64-byte VGM header)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir / "album.hes").size(), 0x4000u + 2 * 0x2000u) << "each song on the 8 KiB pages it fills";
    EXPECT_NE(readFile(dir / "album.m3u").size(), 0u);

    r = runAlbum({"none.hes", "missing.vgm", "broken.vgm"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dir / "none.hes").size() + readFile(dir / "none.m3u").size(), 0u);

    // Forty pages (ten banks) a song: after three of them and a one-page song, a fourth
    // does not fit in the 31 banks a HuC6280 maps, nor does what comes after it.
    VgmBuilder big;
    big.dataBlock(0x00, Bytes(10 * 0x8000 - 0x400, 0x80));
    for (const char* name : {"a.vgm", "b.vgm", "c.vgm", "d.vgm"}) writeFile(dir / name, big.finish("big"));
    writeFile(dir / "full.hes", {5});
    r = runAlbum({"full.hes", "a.vgm", "b.vgm", "c.vgm", "song.vgm", "d.vgm", "song.vgm"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: the album takes 41 banks of 32 KiB, more than the 31 a HuC6280 can map; "
                         "these inputs do not fit: d.vgm, song.vgm\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir / "full.hes"), (Bytes{5}));
    EXPECT_EQ(readFile(dir / "full.m3u").size(), 0u);

    // Small songs fit in few pages, but the player's table holds 31.
    std::vector<std::string> many = {"full.hes"};
    for (int n = 0; n < 32; ++n) many.push_back(n == 31 ? "b.vgm" : "song.vgm");
    r = runAlbum(many, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: an album holds at most 31 songs; these inputs do not fit: b.vgm\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir / "full.hes"), (Bytes{5}));

    // A playlist that cannot be written: nothing is.
    ASSERT_EQ(::mkdir((dir / "blocked.m3u").c_str(), 0755), 0);
    r = runAlbum({"blocked.hes", "song.vgm"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: unable to open blocked.m3u\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "blocked.hes").size(), 0u);

    r = runAlbum({"nowhere/album.hes", "song.vgm"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: unable to open nowhere/album.hes\n"), std::string::npos) << r.out;

    EXPECT_EQ(runAlbum({"only.hes"}, dir.path()).status, 2);
    EXPECT_EQ(runAlbum({"-h", "a.hes", "song.vgm"}, dir.path()).status, 0);
}

} // namespace
} // namespace quorvel::test
