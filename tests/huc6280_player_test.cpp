// The player on PC Engine logs: each song is converted by the built quorvel, each PSG
// channel of the HES rendered alone through libgme (which has no player for these
// logs), and held against what the log's writes say: pitch from the period, loudness
// from volume and balance, DDA steps at the sample they are due.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "tests/audio.h"
#include "tests/support.h"
#include "tools/huc_songs.h"
#include "tools/render.h"

namespace quorvel::test {
namespace {

using songs::HucSong;
using songs::Voice;

const char* const kVoices[] = {"Wave 1", "Wave 2", "Wave 3", "Wave 4", "Multi 1", "Multi 2"};

std::string convertSong(const ScratchDir& dir, const HucSong& song)
{
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / (song.name + ".vgm"), song.vgm);
    EXPECT_EQ(runQuorvel({song.name + ".vgm", song.name + ".hes"}, dir.path()).status, 0);
    return dir / (song.name + ".hes");
}

std::vector<double> renderChannel(const std::string& hes, double seconds, unsigned channel)
{
    return mono(renderVoices(hes, seconds, [channel](const std::string& name) { return name == kVoices[channel]; }));
}

// What the log plays, sample by sample: the voice of each channel at sample n.
class Score {
public:
    explicit Score(const HucSong& song) : changes_(song.changes) {}
    const songs::HucLog::Change& at(std::size_t n)
    {
        if (changes_[current_].at > n) current_ = 0;
        while (current_ + 1 < changes_.size() && changes_[current_ + 1].at <= n) ++current_;
        return changes_[current_];
    }
    // The expected loudness of `channel` per window of `window` samples.
    std::vector<double> loudness(unsigned channel, std::size_t windows, std::size_t window)
    {
        std::vector<double> out(windows);
        for (std::size_t w = 0; w < windows; ++w) {
            double sum = 0;
            for (std::size_t n = w * window; n < (w + 1) * window; ++n) {
                const auto& change = at(n);
                const double a = change.voices[channel].level() * change.voices[channel].gain(change.mainBalance);
                sum += a * a;
            }
            out[w] = std::sqrt(sum / static_cast<double>(window));
        }
        return out;
    }
    // Whether `channel` holds one audible tone, checked, from `from` for `count` samples.
    bool holds(unsigned channel, std::size_t from, std::size_t count, Voice* voice)
    {
        *voice = at(from).voices[channel];
        for (std::size_t n = from; n < from + count; n += 20) {
            const Voice& v = at(n).voices[channel];
            if (!v.on || v.dda || v.noise || !v.checked || v.volume < 8 || v.period != voice->period) return false;
        }
        return true;
    }

private:
    const std::vector<songs::HucLog::Change>& changes_;
    std::size_t current_ = 0;
};

// Where a step of the output lies near `guess`: the crossing of the midpoint between
// the levels before and after it, to a fraction of a sample.
double stepAt(const std::vector<double>& s, long guess, long reach)
{
    const auto level = [&](long from, long to) {
        double sum = 0;
        for (long n = from; n < to; ++n) {
            sum += s[static_cast<std::size_t>(std::clamp<long>(n, 0, static_cast<long>(s.size()) - 1))];
        }
        return sum / static_cast<double>(to - from);
    };
    const double before = level(guess - reach - 12, guess - reach), after = level(guess + reach, guess + reach + 12);
    const double mid = (before + after) / 2;
    for (long n = std::max(guess - reach, 0L); n < guess + reach && n + 1 < static_cast<long>(s.size()); ++n) {
        const double a = s[static_cast<std::size_t>(n)] - mid, b = s[static_cast<std::size_t>(n + 1)] - mid;
        if ((a < 0) != (b < 0) && (b - a) * (after - before) > 0) return static_cast<double>(n) + a / (a - b);
    }
    return -1e9;
}

// Where a step from silence lies within `reach` of `guess`: first where the output
// passes half its largest excursion there, then exactly by stepAt.
double onsetAt(const std::vector<double>& s, long guess, long reach)
{
    double base = 0;
    for (long n = guess - reach - 20; n < guess - reach; ++n) base += s[static_cast<std::size_t>(n)] / 20;
    double peak = 0;
    for (long n = guess - reach; n < guess + reach; ++n) peak = std::max(peak, std::fabs(s[static_cast<std::size_t>(n)] - base));
    long n = guess - reach;
    while (std::fabs(s[static_cast<std::size_t>(n)] - base) < peak / 2) ++n;
    return stepAt(s, n, 6);
}

// Lag and time scale of a render against the log: position = lag + rate x sample.
// libgme's HES output runs about 0.07% slow, so the rate is measured, not assumed.
struct Alignment {
    double lag = 0, rate = 1;
    double at(double sample) const { return lag + rate * sample; }
};

Alignment fit(const std::vector<double>& due, const std::vector<double>& at)
{
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(due.size());
    for (std::size_t k = 0; k < due.size(); ++k) {
        sx += due[k], sy += at[k], sxx += due[k] * due[k], sxy += due[k] * at[k];
    }
    const double rate = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    return {(sy - rate * sx) / n, rate};
}

// The PC Engine song, at the standard clock and at one whose periods the player
// rescales (the rescaled period is a whole number: half a step of it is allowed).
class PceSong : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PceSong, PlaysWhatItsWritesSay)
{
    const HucSong song = songs::pceSong(GetParam());
    ScratchDir dir;
    const std::string hes = convertSong(dir, song);
    Score score(song);
    std::vector<std::vector<double>> solo;
    for (unsigned c = 0; c < 6; ++c) solo.push_back(renderChannel(hes, song.seconds + 0.1, c));

    // Where the HES plays the log: roughly from the whole mix, then exactly from the
    // drum hits, each of which must start within 0.2 ms of its place.
    const std::vector<double> mix = mono(renderFile(hes, song.seconds));
    std::vector<double> expected(mix.size());
    for (std::size_t n = 0; n < expected.size(); ++n) {
        const auto& change = score.at(n);
        for (const Voice& v : change.voices) expected[n] += v.level() * v.gain(change.mainBalance);
    }
    const long rough = lagOf(expected, mix, 60);
    ASSERT_GE(rough, 0);
    std::vector<double> due, hit;
    for (const auto& [sample, channel] : song.onsets) {
        due.push_back(sample);
        hit.push_back(onsetAt(solo[channel], static_cast<long>(sample) + rough, 80));
    }
    const Alignment align = fit(due, hit);
    EXPECT_NEAR(align.rate, 1.0, 0.0015);
    for (std::size_t k = 0; k < due.size(); ++k) {
        const double error = (hit[k] - align.at(due[k])) / kRenderRate;
        std::cout << "drum due at " << due[k] << ": " << error * 1000 << " ms\n";
        EXPECT_LT(std::fabs(error), 0.0002) << "drum due at sample " << due[k];
    }

    constexpr std::size_t kLoudWindow = kRenderRate / 100, kPitchWindow = kRenderRate / 20;
    const std::size_t windows = static_cast<std::size_t>(song.seconds * kRenderRate) / kLoudWindow - 1;
    PeakFinder peak(kPitchWindow);
    for (unsigned c = 0; c < 6; ++c) {
        const auto there = [&](std::size_t sample) {
            return static_cast<std::size_t>(std::lround(align.at(static_cast<double>(sample))));
        };
        const std::vector<double> want = score.loudness(c, windows, kLoudWindow);
        std::vector<double> got(windows);
        for (std::size_t w = 0; w < windows; ++w) got[w] = rms(solo[c], there(w * kLoudWindow), kLoudWindow);
        const double envelope = correlation(want, got);
        EXPECT_GE(envelope, 0.95) << "channel " << c;

        std::size_t compared = 0;
        double worst = 0;
        for (std::size_t from = 441; from + kPitchWindow + 441 < windows * kLoudWindow; from += kPitchWindow) {
            Voice voice;
            if (!score.holds(c, from - 441, kPitchWindow + 882, &voice)) continue;
            const double hz = voice.hz(song.clock), rescaled = voice.period * 3579545.0 / song.clock;
            const double error = std::fabs(peak(solo[c], there(from)) / hz - 1);
            EXPECT_LT(error, 0.005 + (song.clock == 3579545 ? 0 : 0.5 / rescaled))
                << "channel " << c << " at " << from << ": " << hz << " Hz";
            worst = std::max(worst, error);
            ++compared;
        }
        std::cout << "channel " << c << ": loudness correlation " << envelope << ", " << compared
                  << " held windows, worst pitch error " << worst * 100 << "%\n";
        if (c < 4) {
            EXPECT_GE(compared, 10u) << "channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clocks, PceSong, ::testing::Values(3579545u, 4000000u));

// Both chips in one song: the log takes the channels it selects, the SN76489 keeps
// the others.
TEST(HucPlayer, LogTakesTheChannelsItSelects)
{
    const HucSong song = songs::bothChips();
    ScratchDir dir;
    const std::string hes = convertSong(dir, song);
    PeakFinder peak(kRenderRate / 20);
    const auto pitch = [&](unsigned channel, double second) {
        return peak(renderChannel(hes, song.seconds, channel), static_cast<std::size_t>(second * kRenderRate));
    };
    const auto near = [](double got, double period) { return std::fabs(got / (3579545.0 / (32 * period)) - 1) < 0.005; };
    EXPECT_TRUE(near(pitch(0, 0.2), 254)) << "the SN76489's tone before the log selects channel 0";
    EXPECT_TRUE(near(pitch(0, 0.7), 170)) << "the log's tone";
    EXPECT_TRUE(near(pitch(0, 1.2), 170)) << "the log's tone, the SN76489's new one not heard";
    EXPECT_TRUE(near(pitch(1, 0.7), 320));
    EXPECT_TRUE(near(pitch(1, 1.2), 285)) << "the SN76489 keeps channel 1";
    EXPECT_TRUE(near(pitch(5, 0.7), 500));
}

TEST(HucPlayer, WritesRunWithinTwoSamplesOfTheirTime)
{
    const HucSong song = songs::timingSong();
    ScratchDir dir;
    const std::string hes = convertSong(dir, song);
    std::vector<std::vector<double>> solo;
    for (unsigned c = 0; c < 6; ++c) solo.push_back(renderChannel(hes, song.seconds, c));

    // Each step's position in the render, the first (a step from silence) looked for
    // across the HES's start, which moves with the player's setup time.
    std::vector<double> at(song.onsets.size());
    const auto& [first, firstChannel] = song.onsets.front();
    at[0] = onsetAt(solo[firstChannel], static_cast<long>(first) + 1500, 1500);
    ASSERT_GT(at[0], static_cast<double>(first));
    const std::size_t afterBurst = song.onsets.size() - 2; // right after 200 writes with no wait
    for (std::size_t k = 1; k < at.size(); ++k) {
        const auto& [due, c] = song.onsets[k];
        const long reach = k == afterBurst ? 400 : 20;
        at[k] = stepAt(solo[c], std::lround(static_cast<double>(due) + at[0] - first) + reach - 20, reach);
    }

    // A step can come no sooner than the player is done with the step before it (a
    // channel select, a write and a wait: kStepSamples), so a step after a shorter gap
    // is due then.
    constexpr double kStepSamples = 2.6;
    std::vector<double> ready(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) {
        ready[k] = song.onsets[k].first;
        if (k > 0 && k != afterBurst) ready[k] = std::max(ready[k], ready[k - 1] + kStepSamples);
    }
    std::vector<double> own, ownAt; // the steps at their own time
    for (std::size_t k = 0; k < afterBurst; ++k) {
        if (ready[k] != song.onsets[k].first) continue;
        own.push_back(ready[k]);
        ownAt.push_back(at[k]);
    }
    const Alignment align = fit(own, ownAt);
    EXPECT_NEAR(align.rate, 1.0, 0.0015);

    double worst = 0;
    for (std::size_t k = 0; k < at.size(); ++k) {
        const auto& [due, c] = song.onsets[k];
        const double error = at[k] - align.at(ready[k]);
        if (k == afterBurst) {
            std::cout << "200 writes with no wait take " << error / kRenderRate * 1000 << " ms\n";
            EXPECT_LT(error / kRenderRate, 0.005);
            continue;
        }
        EXPECT_LT(std::fabs(error), 2.0) << "step " << k << " due at " << due << " on channel " << c;
        worst = std::max(worst, std::fabs(error));
    }
    std::cout << "start lag " << align.lag << " samples, time scale " << align.rate << ", worst step error "
              << worst << " samples\n";
}

} // namespace
} // namespace quorvel::test
