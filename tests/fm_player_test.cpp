// The player on YM2612 FM: each FM channel of our own songs rendered alone through
// libgme, the HES's PSG channel of the same number against the VGM's "FM n" voice:
// pitch on held notes and the loudness envelope.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

constexpr std::size_t kTenMs = kRenderRate / 100;
const char* const kHesVoices[6] = {"Wave 1", "Wave 2", "Wave 3", "Wave 4", "Multi 1", "Multi 2"};

std::vector<double> voice(const std::string& path, double seconds, const std::string& name)
{
    return mono(renderVoices(path, seconds, [&name](const std::string& v) { return v == name; }));
}

struct ChannelFigures {
    double envelope = 0;       // loudness correlation, 10 ms windows
    std::size_t held = 0;      // 10 ms windows on held notes
    std::size_t inTune = 0;    // of those, within 1% of the VGM's pitch
};

ChannelFigures compare(const std::vector<double>& vgm, const std::vector<double>& hes, double lowestHz)
{
    const long lag = lagOf(vgm, hes, 60, 5);
    ChannelFigures f;
    std::vector<double> want, got;
    for (std::size_t from = 0; from + kTenMs <= vgm.size(); from += kTenMs) {
        const long other = static_cast<long>(from) + lag;
        if (other < 0 || static_cast<std::size_t>(other) + kTenMs > hes.size()) break;
        want.push_back(rms(vgm, from, kTenMs));
        got.push_back(rms(hes, static_cast<std::size_t>(other), kTenMs));
    }
    f.envelope = correlation(want, got);

    // Held notes: loud windows whose VGM pitch is steady over 30 ms.
    const double loud = *std::max_element(want.begin(), want.end());
    // Self-similarity over a window of one and a half periods of the lowest note at least.
    const std::size_t window = std::max<std::size_t>(1024, static_cast<std::size_t>(1.5 * kRenderRate / lowestHz));
    const auto pitch = [&](const std::vector<double>& s, long at) {
        return at < 0 ? 0.0 : fundamental(s, static_cast<std::size_t>(at), window, lowestHz, 4000);
    };
    for (std::size_t w = 1; w + 4 < want.size(); ++w) {
        if (want[w] < 0.1 * loud || want[w + 3] < 0.1 * loud) continue;
        const long at = static_cast<long>(w * kTenMs);
        const double here = pitch(vgm, at);
        if (here == 0) continue;
        const double before = pitch(vgm, at - static_cast<long>(kTenMs)), after = pitch(vgm, at + static_cast<long>(kTenMs));
        if (std::fabs(before / here - 1) > 0.003 || std::fabs(after / here - 1) > 0.003) continue;
        ++f.held;
        if (std::fabs(pitch(hes, at + lag) / here - 1) < 0.01) ++f.inTune;
    }
    return f;
}

// A melody with releases, a bass, vibrato, channel 3 in special mode and a six-channel
// chord: each channel's pitch on held notes within 1% of the VGM's on 98% of windows
// or more, its loudness envelope correlating 0.85 or better.
TEST(FmChannels, PitchAndEnvelopeFollowTheVgm)
{
    const songs::Song song = songs::fmSong();
    const double lowestHz = 50;
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / (song.name + ".vgm"), song.vgm);
    ASSERT_EQ(runQuorvel({song.name + ".vgm", song.name + ".hes"}, dir.path()).status, 0);
    for (unsigned c = 0; c < 6; ++c) {
        const std::vector<double> vgm = voice(dir / (song.name + ".vgm"), song.seconds, "FM " + std::to_string(c + 1));
        if (rms(vgm, 0, vgm.size()) < 10) continue; // a channel the song leaves silent
        const std::vector<double> hes = voice(dir / (song.name + ".hes"), song.seconds + 0.1, kHesVoices[c]);
        const ChannelFigures f = compare(vgm, hes, lowestHz);
        std::cout << song.name << " FM " << c + 1 << ": envelope correlation " << f.envelope << ", " << f.inTune
                  << " of " << f.held << " held 10 ms windows within 1%\n";
        EXPECT_GE(f.envelope, 0.85) << "FM " << c + 1;
        EXPECT_GE(f.held, 20u) << "FM " << c + 1;
        EXPECT_GE(static_cast<double>(f.inTune), 0.98 * static_cast<double>(f.held)) << "FM " << c + 1;
    }
}

} // namespace
} // namespace quorvel::test
