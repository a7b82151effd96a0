// The player on YM2612 PCM: drums through 0x8n and 0xE0, through DAC writes and
// through DAC streams, rendered through libgme. The VGM side is libgme's "PCM" voice
// where libgme plays it; DAC streams, which libgme does not play, are held against
// what their commands say. A minute of dense PCM among FM writes must keep the
// PSG's time.
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

std::string convertSong(const ScratchDir& dir, const songs::Song& song)
{
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / (song.name + ".vgm"), song.vgm);
    EXPECT_EQ(runQuorvel({song.name + ".vgm", song.name + ".hes"}, dir.path()).status, 0);
    return song.name;
}

std::vector<double> voice(const std::string& path, double seconds, const char* name)
{
    return mono(renderVoices(path, seconds, [name](const std::string& v) { return v == name; }));
}

std::vector<double> loudness(const std::vector<double>& s, long from, std::size_t windows)
{
    std::vector<double> out(windows);
    for (std::size_t w = 0; w < windows; ++w) {
        out[w] = rms(s, static_cast<std::size_t>(std::max(0L, from + static_cast<long>(w * kTenMs))), kTenMs);
    }
    return out;
}

// The first sample after `from` where the output leaves silence.
long onset(const std::vector<double>& s, long from, double threshold)
{
    for (long n = std::max(from, 0L); n < static_cast<long>(s.size()); ++n) {
        if (std::fabs(s[static_cast<std::size_t>(n)]) > threshold) return n;
    }
    return -1;
}

class PcmDrums : public ::testing::TestWithParam<bool> {};

TEST_P(PcmDrums, HitsAndEnvelopesMatchTheVgm)
{
    const songs::Song song = songs::pcmDrums(GetParam());
    ScratchDir dir;
    const std::string name = convertSong(dir, song);
    ASSERT_GE(readFile(dir / (name + ".hes")).size(), 0x4000u + 2 * 0x8000u) << "the drums' block crosses a bank end";
    const std::vector<double> vgm = voice(dir / (name + ".vgm"), song.seconds, "PCM");
    const std::vector<double> hes = voice(dir / (name + ".hes"), song.seconds + 0.1, "Multi 2");
    const long lag = lagOf(vgm, hes, 60, 5);

    const std::size_t windows = static_cast<std::size_t>(song.seconds * 100) - 2;
    const double envelope = correlation(loudness(vgm, 0, windows), loudness(hes, lag, windows));
    double worst = 0;
    for (int beat = 0; beat < 16; ++beat) {
        const long due = beat * 11025;
        const long want = onset(vgm, due - 200, 1000), got = onset(hes, due + lag - 200, 1000);
        worst = std::max(worst, std::fabs(static_cast<double>(got - lag - want)) / kRenderRate * 1000);
    }
    // Below 3.5 kHz the spectra agree: third-octave band levels (against their sum)
    // differ by little on average (1.4 dB for 0x8n; 2.96-3.06 dB for DAC writes at
    // 22 kHz, of which the player plays every other one: which ones moves with the
    // player's start by a few cycles).
    const std::vector<double> want = bandLevels(vgm, 3500), got = bandLevels(hes, 3500);
    double difference = 0;
    for (std::size_t b = 0; b < want.size(); ++b) difference += std::fabs(want[b] - got[b]) / static_cast<double>(want.size());
    std::cout << name << ": lag " << lag << " samples, envelope correlation " << envelope << ", hits within "
              << worst << " ms, band levels below 3.5 kHz " << difference << " dB apart on average\n";
    EXPECT_GE(envelope, 0.9);
    EXPECT_LT(worst, 1.0);
    EXPECT_LT(difference, 3.25);
}

INSTANTIATE_TEST_SUITE_P(Forms, PcmDrums, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "DacWrites" : "WriteAndWait"; });

TEST(DacStreams, StartStopLoopAndPitchAsCommanded)
{
    const songs::StreamSong streams = songs::dacStreams();
    ScratchDir dir;
    const std::string name = convertSong(dir, streams.song);
    const std::vector<double> hes = voice(dir / (name + ".hes"), streams.song.seconds + 0.1, "Multi 2");
    const long start = onset(hes, 0, 1000); // the first stream starts with the song
    ASSERT_GE(start, 0);

    // Playing: loud, and at the tone of the block it plays; stopped: silent. Windows
    // within 5 ms of a start or a stop are left out.
    PeakFinder peak(4 * kTenMs);
    std::size_t on = 0, off = 0;
    const auto events = streams.events;
    for (std::uint32_t at = 0; at + 4 * kTenMs < events.back().first + 11025; at += kTenMs) {
        bool playing = false, near = false;
        std::size_t block = 0;
        for (std::size_t k = 0; k < events.size(); ++k) {
            if (events[k].first <= at) playing = events[k].second == 1;
            if (events[k].second == 1 && events[k].first <= at) block = k == 2 ? 1 : 0;
            near = near || (events[k].first + 220 > at && events[k].first < at + 4 * kTenMs + 220);
        }
        if (near) continue;
        const std::size_t from = static_cast<std::size_t>(start) + at;
        const double level = rms(hes, from, 4 * kTenMs);
        if (playing) {
            ++on;
            EXPECT_GT(level, 3000) << "stream silent at sample " << at;
            EXPECT_NEAR(peak(hes, from) / streams.hz[block], 1.0, 0.01) << "at sample " << at;
        } else {
            ++off;
            EXPECT_LT(level, 300) << "stream sounding at sample " << at;
        }
    }
    EXPECT_GE(on, 30u);
    EXPECT_GE(off, 100u);
}

// A minute of dense commands: a 22 kHz PCM stream with FM writes every 4 samples
// (the PSG timed, each change of note within 2 ms of its place), and a dense FM log
// with 11 kHz PCM (FM channel 1 timed by its loud notes' key-ons, within 2 ms and the
// FM part's 2.29 ms tick; the fall into a quiet note is a release into an attack,
// which the chips shape differently). No drift.
struct DenseSong {
    songs::Song song;
    const char* vgmVoice;
    bool keyOnsOnly;
    double withinMs;
};

class Dense : public ::testing::TestWithParam<DenseSong> {};

TEST_P(Dense, KeepsItsTimeForAMinute)
{
    const songs::Song& song = GetParam().song;
    ScratchDir dir;
    const std::string name = convertSong(dir, song);
    const std::vector<double> vgm = voice(dir / (name + ".vgm"), song.seconds, GetParam().vgmVoice);
    const std::vector<double> hes = voice(dir / (name + ".hes"), song.seconds + 0.2, "Wave 1");
    // Each second's note onset in both renders (a new pitch and level every second);
    // the HES may start later and run at libgme's own rate, but must not fall behind
    // note by note.
    // Where the 1 ms loudness first crosses the middle between the quiet and the loud
    // notes after `from`.
    const auto change = [](const std::vector<double>& s, long from) {
        const double quiet = rms(s, 44100 / 2, 4410), loud = rms(s, 44100 * 3 / 2, 4410);
        const bool rising = (from / 44100) % 2 == 0; // odd seconds are the loud ones
        for (long n = std::max(from, 0L); n + 44 < static_cast<long>(s.size()); n += 11) {
            const double level = rms(s, static_cast<std::size_t>(n), 44);
            if (rising ? level > (quiet + loud) / 2 : level < (quiet + loud) / 2) return n;
        }
        return -1L;
    };
    std::vector<double> x, y;
    for (int second = 1; second < 60; second += GetParam().keyOnsOnly ? 2 : 1) {
        const long want = change(vgm, second * 44100 - 1500);
        const long got = change(hes, second * 44100 - 1500);
        ASSERT_GE(want, 0);
        ASSERT_GE(got, 0);
        x.push_back(static_cast<double>(want));
        y.push_back(static_cast<double>(got));
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) sx += x[k], sy += y[k], sxx += x[k] * x[k], sxy += x[k] * y[k];
    const double rate = (n * sxy - sx * sy) / (n * sxx - sx * sx), lag = (sy - rate * sx) / n;
    double worst = 0;
    for (std::size_t k = 0; k < x.size(); ++k) worst = std::max(worst, std::fabs(y[k] - lag - rate * x[k]));
    std::cout << name << ": time scale " << rate << ", worst onset off the line " << worst / kRenderRate * 1000 << " ms\n";
    EXPECT_NEAR(rate, 1.0, 0.0015);
    EXPECT_LT(worst / kRenderRate * 1000, GetParam().withinMs);
}

INSTANTIATE_TEST_SUITE_P(Songs, Dense,
                         ::testing::Values(DenseSong{songs::densePcm(), "PSG", false, 2.0},
                                           DenseSong{songs::denseFm(), "FM 1", true, 4.3}),
                         [](const auto& info) { return info.index == 0 ? "PcmAmongFmWrites" : "FmLogWithPcm"; });

// The pan bits of channel 6 (0xB6) steer the DAC: left, then right.
TEST(DacPan, FollowsTheChannelSixPan)
{
    const songs::Song song = songs::dacPan();
    ScratchDir dir;
    const std::string name = convertSong(dir, song);
    const std::vector<short> stereo = renderVoices(dir / (name + ".hes"), song.seconds, [](const std::string& v) {
        return v == "Multi 2";
    });
    const auto side = [&](std::size_t from, int channel) {
        double sum = 0;
        for (std::size_t n = from; n < from + 4410; ++n) sum += std::pow(stereo[2 * n + channel], 2);
        return std::sqrt(sum / 4410);
    };
    EXPECT_GT(side(2205, 0), 10 * side(2205, 1)) << "left first";
    EXPECT_GT(side(13230, 1), 10 * side(13230, 0)) << "then right";
}

TEST(PcmReads, BeyondTheDataBankIsSilence)
{
    const songs::Song song = songs::seekBeyond();
    ScratchDir dir;
    const std::string name = convertSong(dir, song);
    const std::vector<double> hes = voice(dir / (name + ".hes"), song.seconds, "Multi 2");
    EXPECT_LT(rms(hes, kRenderRate / 50, hes.size() - kRenderRate / 50), 50.0);
}

} // namespace
} // namespace quorvel::test
