// Playlists and albums in a music player: libgme loads the HES with its M3U and must
// show each track's title, game, author and lengths; each track of an album must play
// what the single song's HES plays, and a track beyond the album silence.
#include <gme/gme.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/songs.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

struct Shown {
    int tracks;
    std::string song, game, author;
    int length, intro, loop;
};

// What libgme shows of track `track` of `hes` with the playlist beside it.
Shown shown(const std::string& hes, const std::string& m3u, int track)
{
    Music_Emu* emu = nullptr;
    EXPECT_EQ(gme_open_file(hes.c_str(), &emu, kRenderRate), nullptr);
    std::unique_ptr<Music_Emu, void (*)(Music_Emu*)> owner(emu, gme_delete);
    EXPECT_EQ(gme_load_m3u(emu, m3u.c_str()), nullptr);
    EXPECT_EQ(gme_warning(emu), nullptr) << "the playlist has a line libgme cannot read";
    gme_info_t* info = nullptr;
    EXPECT_EQ(gme_track_info(emu, &info, track), nullptr);
    Shown s{gme_track_count(emu), info->song, info->game, info->author, info->length, info->intro_length,
            info->loop_length};
    gme_free_info(info);
    return s;
}

Bytes song(const Bytes& tag, std::uint32_t total, std::uint32_t loop)
{
    VgmBuilder v(0x150);
    v.field(0x0C, 3579545).field(0x18, total);
    songs::tone(v, 0, 69, 2);
    v.wait(total - loop);
    if (loop != 0) v.loopHere().field(0x20, loop);
    songs::tone(v, 0, 72, 2);
    v.wait(loop);
    return tag.empty() ? v.finish() : v.finishWithTag(tag);
}

TEST(PlaylistInPlayer, TitlesAndLengths)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    Bytes cut = VgmBuilder::gd3({u"Cut, Short", u"", u"Game"});
    setLe32(cut, 8, 999); // longer than the file
    struct Case {
        const char* name;
        Bytes vgm;
        const char* song;
        const char* game;
        const char* author;
        int length, intro, loop;
    };
    const Case cases[] = {
        {"tagged", song(VgmBuilder::gd3({u"Green Hill", u"", u"A Game", u"", u"", u"", u"Someone"}), 441000, 220500),
         "Green Hill", "A Game", "Someone", 10000, 5000, 5000},
        {"untagged", song({}, 88200, 0), "untagged", "", "", 2000, -1, -1},
        {"damaged", song(cut, 88200, 44100), "Cut, Short", "Game", "", 2000, 1000, 1000},
        {"japanese", song(VgmBuilder::gd3({u"", u"緑の丘", u"", u"ゲーム", u"", u"", u"", u"作曲者"}), 132300, 132300),
         "緑の丘", "ゲーム", "作曲者", 3000, 0, 3000},
        {"no-loop", song(VgmBuilder::gd3({u"Once"}), 66150, 0), "Once", "", "", 1500, -1, -1},
    };
    for (const Case& c : cases) {
        writeFile(dir / (std::string(c.name) + ".vgm"), c.vgm);
        ASSERT_EQ(runQuorvel({"-m3u", std::string(c.name) + ".vgm", std::string(c.name) + ".hes"}, dir.path()).status, 0);
        const Shown s = shown(dir / (std::string(c.name) + ".hes"), dir / (std::string(c.name) + ".m3u"), 0);
        EXPECT_EQ(s.tracks, 1) << c.name;
        EXPECT_EQ(s.song, c.song) << c.name;
        EXPECT_EQ(s.game, c.game) << c.name;
        EXPECT_EQ(s.author, c.author) << c.name;
        EXPECT_EQ(s.length, c.length) << c.name;
        EXPECT_EQ(s.intro, c.intro) << c.name;
        EXPECT_EQ(s.loop, c.loop) << c.name;
    }
}

// The best match of two renders within `reach` samples: their correlation there.
double matchWithin(const std::vector<double>& a, const std::vector<double>& b, long reach)
{
    const std::size_t n = std::min(a.size(), b.size()) - static_cast<std::size_t>(2 * reach);
    double best = -1;
    for (long lag = -reach; lag <= reach; ++lag) {
        std::vector<double> x(a.begin() + reach, a.begin() + reach + static_cast<long>(n));
        std::vector<double> y(b.begin() + reach + lag, b.begin() + reach + lag + static_cast<long>(n));
        best = std::max(best, correlation(x, y));
    }
    return best;
}

TEST(AlbumInPlayer, EachTrackPlaysItsSong)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    // The last reads PCM from its data bank, which in the album lies banks further on.
    const std::vector<songs::Song> album = {songs::chords(), songs::pal(), songs::banks(), songs::pcmDrums(false)};
    std::vector<std::string> args = {"album.hes"};
    for (const songs::Song& s : album) {
        writeFile(dir / (s.name + ".vgm"), s.vgm);
        ASSERT_EQ(runQuorvel({s.name + ".vgm", s.name + ".hes"}, dir.path()).status, 0);
        args.push_back(s.name + ".vgm");
    }
    ASSERT_EQ(runAlbum(args, dir.path()).status, 0);

    const int tracks = static_cast<int>(album.size());
    for (int track = 0; track < tracks; ++track) {
        const Shown s = shown(dir / "album.hes", dir / "album.m3u", track);
        EXPECT_EQ(s.tracks, tracks);
        EXPECT_EQ(s.song, album[static_cast<std::size_t>(track)].name);
        EXPECT_EQ(s.game, "quorvel");
    }

    const auto render = [](const std::string& path, int track) {
        Music_Emu* emu = nullptr;
        EXPECT_EQ(gme_open_file(path.c_str(), &emu, kRenderRate), nullptr);
        gme_ignore_silence(emu, 1);
        std::vector<short> samples(2 * 2 * kRenderRate);
        EXPECT_EQ(gme_start_track(emu, track), nullptr);
        EXPECT_EQ(gme_play(emu, static_cast<int>(samples.size()), samples.data()), nullptr);
        gme_delete(emu);
        return mono(samples);
    };
    for (int track = 0; track < tracks; ++track) {
        const std::vector<double> single = render(dir / (album[static_cast<std::size_t>(track)].name + ".hes"), 0);
        const std::vector<double> inAlbum = render(dir / "album.hes", track);
        EXPECT_GT(matchWithin(single, inAlbum, 40), 0.999) << album[static_cast<std::size_t>(track)].name;
    }
    const std::vector<double> beyond = render(dir / "album.hes", tracks);
    EXPECT_EQ(rms(beyond, 0, beyond.size()), 0.0) << "a track beyond the album is silent";
}

} // namespace
} // namespace quorvel::test
