// Repeats heard through libgme: songs converted with their repeats played from the
// first copy sound as the same songs converted without them, sample for sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "convert/compact.h"
#include "convert/repeats.h"
#include "hes/hes_writer.h"
#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/repeat_songs.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

// The HES file of a converted image, with the player as built.
Bytes hesOf(const Bytes& image)
{
    const auto header = makeHesHeader(static_cast<std::uint32_t>(image.size()));
    Bytes hes(header.begin(), header.end());
    Bytes player = readFile(QUORVEL_PLAYER_IMAGE);
    player.resize(kPlayerImageEnd, 0x00);
    hes.insert(hes.end(), player.begin() + kHesHeaderSize, player.end());
    hes.insert(hes.end(), image.begin(), image.end());
    return hes;
}

// The loudness per 10 ms of one voice, or of all.
std::vector<double> envelope(const std::string& path, double seconds, const std::string& voice)
{
    const std::vector<double> s =
        mono(renderVoices(path, seconds, [&voice](const std::string& name) { return voice.empty() || name == voice; }));
    std::vector<double> e;
    for (std::size_t from = 0; from + 441 <= s.size(); from += 441) e.push_back(rms(s, from, 441));
    return e;
}

// Songs of FM, SN76489 and PCM without and with repeats, each PSG channel of the
// player alone: their loudness per 10 ms alike (>= 0.95). Not sample for sample: a
// REPLAY and its return take the player some 600 cycles, which move the writes after
// them by a fraction of a sample, and a tone's phase with them for as long as it
// sounds; and a DAC sample may move to the next of the player's DAC writes.
TEST(RepeatsHeard, SoundAsWithoutThem)
{
    songs::RepeatingSong maker(5);
    const std::vector<songs::Song> list = {songs::fmFullSong(), songs::mixBalance(), songs::pcmDrums(false),
                                           songs::pcmDrums(true), songs::fmWithMelody(),
                                           {"random-bars", maker.song(12), 20.0}};
    ScratchDir dir;
    for (const songs::Song& song : list) {
        const Converted plain = convert(song.vgm), packed = convert(song.vgm, "in.vgm", true);
        ASSERT_EQ(packed.error, "") << song.name;
        ASSERT_EQ(packed.image[kVersionOffset], kRepeatsMark) << song.name << ": nothing repeats";
        writeFile(dir / "plain.hes", hesOf(plain.image));
        writeFile(dir / "packed.hes", hesOf(packed.image));
        const double seconds = std::min(song.seconds + 2, 30.0);
        std::cout << song.name << ": " << plain.image.size() << " -> " << packed.image.size() << " bytes; mix "
                  << correlation(envelope(dir / "plain.hes", seconds, ""), envelope(dir / "packed.hes", seconds, ""));
        for (const char* voice : {"Wave 1", "Wave 2", "Wave 3", "Wave 4", "Multi 1", "Multi 2"}) {
            const std::vector<double> a = envelope(dir / "plain.hes", seconds, voice);
            if (*std::max_element(a.begin(), a.end()) < 50) continue; // silent
            const double like = correlation(a, envelope(dir / "packed.hes", seconds, voice));
            std::cout << ", " << voice << " " << like;
            EXPECT_GE(like, 0.95) << song.name << ", " << voice;
        }
        std::cout << "\n";
    }
}

} // namespace
} // namespace quorvel::test
