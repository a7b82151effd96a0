// Repeats heard through libgme: songs converted with their repeats played from the
// first copy sound as the same songs converted without them, sample for sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "convert/compact.h"
#include "convert/fit.h"
#include "convert/repeats.h"
#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/repeat_songs.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

// The loudness per 10 ms of one voice, or of all.
std::vector<double> envelope(const std::string& path, double seconds, const std::string& voice)
{
    const std::vector<double> s =
        mono(renderVoices(path, seconds, [&voice](const std::string& name) { return voice.empty() || name == voice; }));
    std::vector<double> e;
    for (std::size_t from = 0; from + 441 <= s.size(); from += 441) e.push_back(rms(s, from, 441));
    return e;
}

// Songs of FM, SN76489 and PCM (as streams, as -fit has them by then) without and
// with repeats: each PSG channel of the player alone, their loudness per 10 ms alike
// (>= 0.95), and the whole no further from the VGM's render with repeats than without.
// Not sample for sample: a REPLAY and its return take the player some 600 cycles,
// which can move a write after them by a fraction of a sample, and a tone's phase
// with it for as long as it sounds. A song of 180 FM writes a frame keeps the player
// at its limit, where any work moves writes by milliseconds: there it is held to the
// VGM alone.
TEST(RepeatsHeard, SoundAsWithoutThem)
{
    songs::RepeatingSong five(5), six(6);
    const std::vector<songs::Song> list = {songs::denseFm(), {"random-bars-5", five.song(12), 20.0},
                                           {"random-bars-6", six.song(12, 4096), 20.0}};
    ScratchDir dir;
    for (const songs::Song& song : list) {
        FitReport report;
        const Bytes vgm = fitPcmRuns(song.vgm, report);
        const Converted plain = convert(vgm), packed = convert(vgm, "in.vgm", true);
        ASSERT_EQ(packed.error, "") << song.name;
        ASSERT_EQ(packed.image[kVersionOffset], kRepeatsMark) << song.name << ": nothing repeats";
        writeFile(dir / "plain.hes", hesWithBuiltPlayer(plain.image));
        writeFile(dir / "packed.hes", hesWithBuiltPlayer(packed.image));
        const double seconds = std::min(song.seconds + 2, 20.0);
        std::cout << song.name << ": " << getLe32(plain.image, 0x04) << " -> " << getLe32(packed.image, 0x04)
                  << " bytes of commands";
        const bool atLimit = song.name == "dense-fm";
        if (atLimit) {
            writeFile(dir / "song.vgm", song.vgm);
            const std::vector<double> original = mono(renderFile(dir / "song.vgm", seconds));
            const auto likeVgm = [&](const std::string& path) {
                const std::vector<double> heard = mono(renderFile(path, seconds));
                const long lag = lagOf(original, heard, 250, 5);
                std::vector<double> x, y;
                for (std::size_t from = 0; from + 441 <= original.size(); from += 441) {
                    const long at = static_cast<long>(from) + lag;
                    if (at < 0 || static_cast<std::size_t>(at) + 441 > heard.size()) continue;
                    x.push_back(rms(original, from, 441));
                    y.push_back(rms(heard, static_cast<std::size_t>(at), 441));
                }
                return correlation(x, y);
            };
            const double plainVgm = likeVgm(dir / "plain.hes"), packedVgm = likeVgm(dir / "packed.hes");
            std::cout << "; against the VGM " << plainVgm << " without repeats, " << packedVgm << " with";
            EXPECT_GE(packedVgm, plainVgm - 0.02) << song.name;
        }
        for (const char* voice : {"Wave 1", "Wave 2", "Wave 3", "Wave 4", "Multi 1", "Multi 2"}) {
            const std::vector<double> a = envelope(dir / "plain.hes", seconds, voice);
            if (*std::max_element(a.begin(), a.end()) < 50) continue; // silent
            const double like = correlation(a, envelope(dir / "packed.hes", seconds, voice));
            std::cout << ", " << voice << " " << like;
            if (!atLimit) {
                EXPECT_GE(like, 0.95) << song.name << ", " << voice;
            }
        }
        std::cout << "\n";
    }
}

} // namespace
} // namespace quorvel::test
