// HuCard images on the console, as Mednafen runs them (tools/mednafen-frame.sh, in
// real time): they boot, sound as the same songs' HES files do there, show the
// track's title in the card's font, and move on by themselves at a track's end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "convert/track_info.h"
#include "hes/hucard.h"
#include "tests/audio.h"
#include "tests/mednafen.h"
#include "tests/support.h"
#include "tools/adpcm_songs.h"
#include "tools/huc_songs.h"
#include "tools/songs.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

struct Frame {
    std::size_t width = 0, height = 0;
    std::vector<std::uint8_t> gray;
};

// A PNG as 8-bit gray, through ffmpeg.
Frame readPng(const std::string& path)
{
    Frame f;
    const Bytes png = readFile(path);
    if (png.size() < 24) return f;
    f.width = static_cast<std::size_t>(png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19]);
    f.height = static_cast<std::size_t>(png[20] << 24 | png[21] << 16 | png[22] << 8 | png[23]);
    const std::string raw = path + ".gray";
    const std::string command = "ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt gray '" + raw + "'";
    if (std::system(command.c_str()) != 0) return Frame{};
    const Bytes bytes = readFile(raw);
    f.gray.assign(bytes.begin(), bytes.end());
    if (f.gray.size() != f.width * f.height) return Frame{};
    return f;
}

// The share of the pixels of `text`, drawn in the card's font, that the frame shows
// alike (lit where the glyphs are, dark between), at the best place and scale.
double textShown(const Frame& f, const std::string& text)
{
    const std::size_t columns = text.size() * 8;
    double best = 0;
    for (std::size_t sx = 1; sx <= 4; ++sx) {
        for (std::size_t sy = 1; sy <= 2; ++sy) {
            if (columns * sx > f.width || 8 * sy > f.height) continue;
            for (std::size_t y = 0; y + 8 * sy <= f.height; ++y) {
                for (std::size_t x = 0; x + columns * sx <= f.width; x += sx) {
                    std::size_t alike = 0, total = 0;
                    for (std::size_t row = 0; row < 8 && total - alike < 40; ++row) {
                        for (std::size_t col = 0; col < columns; ++col) {
                            const auto c = static_cast<unsigned char>(text[col / 8]);
                            const std::uint8_t bits = kCardBank[kCardFont + 8 * (c - 0x20) + row];
                            const bool lit = (bits & (0x80 >> (col % 8))) != 0;
                            const bool shown = f.gray[(y + row * sy) * f.width + x + col * sx] > 100;
                            alike += lit == shown;
                            ++total;
                        }
                    }
                    if (total == 8 * columns) best = std::max(best, static_cast<double>(alike) / static_cast<double>(total));
                }
            }
        }
    }
    return best;
}

// Songs of each kind the player voices, each as a HuCard and as an HES file: the card
// boots and sounds as the HES does (loudness per 50 ms >= 0.95) and shows its title.
TEST(HuCardOnConsole, BootsSoundsAsTheHesAndShowsTheTitle)
{
    ScratchDir dir;
    installPlayer(dir.path());
    const std::vector<std::pair<std::string, Bytes>> list = {
        {"chords", songs::chords().vgm},
        {"fm-melody", songs::fmWithMelody().vgm},
        {"pce-song", songs::pceSong().vgm},
        {"cd-song", songs::pceCdSong(16000).vgm},
    };
    for (const auto& [name, vgm] : list) {
        writeFile(dir / (name + ".vgm"), vgm);
        ASSERT_EQ(runQuorvel({"-pce", name + ".vgm", name + ".pce"}, dir.path()).status, 0) << name;
        ASSERT_EQ(runQuorvel({name + ".vgm", name + ".hes"}, dir.path()).status, 0) << name;
        runMednafen(dir / (name + ".pce"), 6, dir / (name + ".png"), dir / (name + "-pce.wav"));
        runMednafen(dir / (name + ".hes"), 6, dir / (name + "-hes.png"), dir / (name + "-hes.wav"));
        const double sound = mednafenLikeness(readWav(dir / (name + "-hes.wav")), readWav(dir / (name + "-pce.wav")), 4);
        const std::string expected = cardText(cardTrack(readTrackInfo(vgm), name + ".vgm").title);
        const double title = textShown(readPng(dir / (name + ".png")), expected);
        std::cout << name << ": loudness against the HES " << sound << ", title shown " << title << "\n";
        EXPECT_GE(sound, 0.95) << name;
        EXPECT_GE(title, 0.97) << name;
    }
}

// An album of two songs without loops, 3 s each, one a low tone and one a high: the
// card plays the first (as the album's HES does), the second by itself when the first
// ends, then the first again, its title back on the screen.
TEST(HuCardOnConsole, MovesOnAtEachTracksEnd)
{
    ScratchDir dir;
    installPlayer(dir.path());
    for (const auto& [name, note] : {std::pair<std::string, int>{"low", 57}, {"high", 69}}) {
        VgmBuilder v = songs::start();
        v.field(0x18, 3 * 44100);
        songs::tone(v, 0, note, 0);
        v.wait(3 * 44100);
        writeFile(dir / (name + ".vgm"), v.finish());
    }
    ASSERT_EQ(runAlbum({"-pce", "album.pce", "low.vgm", "high.vgm"}, dir.path()).status, 0);
    ASSERT_EQ(runAlbum({"album.hes", "low.vgm", "high.vgm"}, dir.path()).status, 0);
    runMednafen(dir / "album.pce", 8, dir / "album.png", dir / "album.wav");
    runMednafen(dir / "album.hes", 3, dir / "album-hes.png", dir / "album-hes.wav");
    const std::vector<double> s = readWav(dir / "album.wav");
    // The first track as the HES album's, and its title on the screen when it has
    // come round again.
    const double sound = mednafenLikeness(readWav(dir / "album-hes.wav"), s, 2);
    const double title = textShown(readPng(dir / "album.png"), "low");
    std::cout << "album: loudness of its first track against the HES album " << sound << ", title shown " << title
              << "\n";
    EXPECT_GE(sound, 0.95);
    EXPECT_GE(title, 0.97);
    std::size_t start = 0;
    while (start < s.size() && std::abs(s[start]) < 1000) ++start;
    std::vector<double> heard;
    for (const double at : {1.5, 4.5, 7.0}) {
        const auto from = start + static_cast<std::size_t>(at * kMednafenRate);
        heard.push_back(from + 4096 <= s.size() ? fundamental(s, from, 4096, 100, 2000) * kMednafenRate / 44100.0 : 0);
    }
    std::cout << "album: " << heard[0] << " Hz, then " << heard[1] << " Hz, then " << heard[2] << " Hz\n";
    EXPECT_NEAR(heard[0], songs::midiHz(57), 4);
    EXPECT_NEAR(heard[1], songs::midiHz(69), 8);
    EXPECT_NEAR(heard[2], songs::midiHz(57), 4);
}

} // namespace
} // namespace quorvel::test
