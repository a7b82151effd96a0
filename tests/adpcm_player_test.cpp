// The player on PC Engine CD logs: ADPCM drums (0x32 nibbles) beside a six-channel
// HuC6280 tune, converted by the built quorvel and rendered channel by channel
// through libgme. The ADPCM's voice is what the channels play while the log leaves
// them silent; it is held against our own decode of the same nibbles in loudness,
// spectrum, level and the time of each hit, and the tune against the tune alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "tests/audio.h"
#include "tests/support.h"
#include "tools/adpcm_songs.h"
#include "tools/render.h"

namespace quorvel::test {
namespace {

using songs::AdpcmFeed;
using songs::CdSong;

const char* const kVoices[] = {"Wave 1", "Wave 2", "Wave 3", "Wave 4", "Multi 1", "Multi 2"};
constexpr std::size_t kWindow = 441; // 10 ms

std::string convertSong(const ScratchDir& dir, const std::string& name, const Bytes& vgm)
{
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / (name + ".vgm"), vgm);
    EXPECT_EQ(runQuorvel({name + ".vgm", name + ".hes"}, dir.path()).status, 0);
    return dir / (name + ".hes");
}

std::vector<std::vector<double>> renderChannels(const std::string& hes, double seconds)
{
    std::vector<std::vector<double>> out;
    for (const char* voice : kVoices)
        out.push_back(mono(renderVoices(
            hes, seconds, [voice](const std::string& name) { return name == voice; }, nullptr, true)));
    return out;
}

bool silent(const songs::Voice& v) { return !v.on || v.volume == 0; }

// Where the song starts in a render: the melody's first note (the player sets up first).
long startOf(const std::vector<std::vector<double>>& channels)
{
    long start = 0;
    while (std::fabs(channels[0][static_cast<std::size_t>(start)]) < 50) ++start;
    return start;
}

// Sample n of each channel counts for the ADPCM while the log has held that channel
// silent for 2 ms (so that none of the log's own sound, still ringing where the player
// writes a moment late, is taken for it), for the tune while the log does not hold
// it silent; the log's time is n - start.
std::vector<double> part(const CdSong& song, const std::vector<std::vector<double>>& channels, long start,
                         bool adpcm, unsigned only = 6)
{
    constexpr long kSettle = 88;
    std::vector<double> out(channels[0].size());
    std::size_t now = 0, before = 0;
    const auto advance = [&song](std::size_t& change, long t) {
        while (change + 1 < song.changes.size() && static_cast<long>(song.changes[change + 1].at) <= t) ++change;
    };
    for (std::size_t n = static_cast<std::size_t>(start); n < out.size(); ++n) {
        const long t = static_cast<long>(n) - start;
        advance(now, t);
        advance(before, t - kSettle);
        for (unsigned c = 0; c < 6; ++c) {
            if (only < 6 && c != only) continue;
            const bool quiet = silent(song.changes[now].voices[c]);
            if (adpcm ? quiet && silent(song.changes[before].voices[c]) : !quiet) out[n] += channels[c][n];
        }
    }
    return out;
}

// Loudness per 10 ms, each window's mean taken away (the DDA's level carries an offset).
std::vector<double> envelope(const std::vector<double>& s, std::size_t windows)
{
    std::vector<double> out(windows);
    for (std::size_t w = 0; w < windows; ++w) {
        double mean = 0, square = 0;
        for (std::size_t n = w * kWindow; n < (w + 1) * kWindow; ++n) mean += s[n] / kWindow;
        for (std::size_t n = w * kWindow; n < (w + 1) * kWindow; ++n) square += (s[n] - mean) * (s[n] - mean);
        out[w] = std::sqrt(square / kWindow);
    }
    return out;
}

// Where the sound first moves by `threshold` from its level just before `from`.
long onset(const std::vector<double>& s, long from, double threshold)
{
    const double before = s[static_cast<std::size_t>(from - 20)];
    for (long n = from - 20; n < from + 2205; ++n) {
        if (std::fabs(s[static_cast<std::size_t>(n)] - before) > threshold) return n;
    }
    return -1;
}

// A way of writing the nibbles, and how closely the spectrum follows: at 32 kHz the
// player cannot decode a nibble and show the signal as often as at 16 kHz (it shows
// it less often the further behind it falls), so its drums are rougher.
struct Feed {
    unsigned rate;
    AdpcmFeed feed;
    double band; // dB the strong bands may differ
    double junk; // dB the weak bands may rise
};

std::string feedName(const Feed& f)
{
    static const char* const feeds[] = {"", "Vck", "Slave", "ThreeBit"};
    return std::to_string(f.rate / 1000) + "kHz" + feeds[static_cast<int>(f.feed)];
}

class AdpcmVoice : public ::testing::TestWithParam<Feed> {};

// Loudness per 10 ms, the third-octave spectrum below 4 kHz and the level against the
// tune's melody follow the decode; every hit starts within 1 ms of its place.
TEST_P(AdpcmVoice, FollowsTheDecodeOfItsNibbles)
{
    constexpr unsigned kDuck = 9; // volume steps the log's channels play lower beside the ADPCM
    const CdSong song = songs::pceCdSong(GetParam().rate, GetParam().feed);
    ScratchDir dir;
    const auto channels = renderChannels(convertSong(dir, song.name, song.vgm), song.seconds);
    const long start = startOf(channels);
    const std::vector<double> voice = part(song, channels, start, true);
    const std::size_t windows = voice.size() / kWindow;
    std::vector<double> expected(voice.size());
    for (std::size_t n = static_cast<std::size_t>(start); n < voice.size(); ++n)
        expected[n] = song.adpcm[n - static_cast<std::size_t>(start)];

    const double envelopes = correlation(envelope(voice, windows), envelope(expected, windows));
    EXPECT_GE(envelopes, 0.9) << song.name;

    // The spectrum below 4 kHz: the bands that carry the drums (within 10 dB of the
    // strongest) as in the decode; the others, 20 dB and more down, no more than
    // `junk` dB above it (the DDA shows the signal once a run, every 4 samples or
    // more: its steps add a little of everything).
    const std::vector<double> got = bandLevels(voice, 4000), want = bandLevels(expected, 4000);
    const double strongest = *std::max_element(want.begin(), want.end());
    double worstBand = 0, worstJunk = 0;
    for (std::size_t b = 0; b < got.size(); ++b) {
        if (want[b] > strongest - 10) worstBand = std::max(worstBand, std::fabs(got[b] - want[b]));
        else worstJunk = std::max(worstJunk, got[b] - want[b]);
    }
    EXPECT_LE(worstBand, GetParam().band) << song.name;
    EXPECT_LE(worstJunk, GetParam().junk) << song.name;

    // The mix: the ADPCM's full scale is a PSG channel's full swing, the log's
    // channels 9 volume steps (13.5 dB) lower than it writes them. The melody
    // (channel 0) plays a sine of RMS 10.6 steps at volumes 28-16, so its level
    // against the decode's (12-bit, 128 to a step) follows from the log.
    double voiceSquare = 0, expectedSquare = 0, melodySquare = 0, melodyWant = 0;
    std::size_t change = 0;
    const std::vector<double> melody = part(song, channels, start, false, 0);
    for (std::size_t n = static_cast<std::size_t>(start); n < voice.size(); ++n) {
        while (change + 1 < song.changes.size() && song.changes[change + 1].at <= n - start) ++change;
        songs::Voice v = song.changes[change].voices[0];
        v.volume = v.volume > kDuck ? v.volume - kDuck : 0;
        voiceSquare += voice[n] * voice[n];
        expectedSquare += expected[n] * expected[n] / (128.0 * 128.0);
        melodySquare += melody[n] * melody[n];
        const double level = v.level() * v.gain(song.changes[change].mainBalance);
        melodyWant += level * level;
    }
    songs::Voice dda; // at volume 31, centred
    dda.on = dda.dda = true;
    dda.volume = 31;
    const double full = dda.gain(0xFF);
    const double levelDb = 10 * std::log10((voiceSquare / melodySquare) /
                                           (expectedSquare * full * full / melodyWant));
    EXPECT_LE(std::fabs(levelDb), 2.0) << song.name;

    // Each hit's onset, against the decode's; libgme's clock runs 0.075% off the song's
    // (as the PC Engine log tests find), so a time scale near 1 is fitted first.
    const double step = std::sqrt(voiceSquare / expectedSquare); // the render's units to a DDA step
    std::vector<std::pair<double, double>> hits; // from the song's start: want, got
    for (const std::uint32_t hit : song.hits) {
        const long want = onset(expected, hit + start, 128);
        const long got = onset(voice, hit + start, step);
        ASSERT_GE(got, 0) << song.name << ": no hit at " << hit;
        hits.emplace_back(want - start, got - start);
    }
    double wantSquare = 0, product = 0;
    for (const auto& [want, got] : hits) wantSquare += want * want, product += want * got;
    const double scale = product / wantSquare;
    EXPECT_NEAR(scale, 1.0, 0.002) << song.name;
    double worstHit = 0;
    for (const auto& [want, got] : hits) worstHit = std::max(worstHit, std::fabs(got - scale * want));
    EXPECT_LE(worstHit, 44) << song.name;
    std::cout << song.name << ": envelope " << envelopes << ", strong bands below 4 kHz within " << worstBand
              << " dB, weak ones up to " << worstJunk
              << " dB, level " << levelDb << " dB, hits within " << worstHit << " samples (time scale " << scale
              << ")\n";
}

INSTANTIATE_TEST_SUITE_P(Feeds, AdpcmVoice,
                         ::testing::Values(Feed{16000, AdpcmFeed::Master, 3, 6}, Feed{32000, AdpcmFeed::Master, 5, 10},
                                           Feed{16000, AdpcmFeed::MasterVck, 3, 6}, Feed{8000, AdpcmFeed::Slave, 3, 6},
                                           Feed{16000, AdpcmFeed::ThreeBit, 3, 6}),
                         [](const auto& info) { return feedName(info.param); });

// The tune's channels play beside the ADPCM as they do without it: loudness per 10 ms
// of each channel while the log holds it.
TEST(AdpcmBeside, TheTunePlaysAsWithoutIt)
{
    const CdSong song = songs::pceCdSong(32000), tune = songs::pceCdSong(32000, AdpcmFeed::Master, false);
    ScratchDir dir;
    const auto with = renderChannels(convertSong(dir, song.name, song.vgm), song.seconds);
    const auto without = renderChannels(convertSong(dir, tune.name, tune.vgm), tune.seconds);
    // Windows counted from each render's own start: the two songs start at different
    // times (the ADPCM's tables are worked out first).
    const auto fromStart = [](std::vector<double> s, long start) {
        s.erase(s.begin(), s.begin() + start);
        return s;
    };
    const long startWith = startOf(with), startWithout = startOf(without);
    const std::size_t windows = (with[0].size() - static_cast<std::size_t>(std::max(startWith, startWithout))) / kWindow;
    for (unsigned c = 0; c < 6; ++c) {
        const double r = correlation(envelope(fromStart(part(song, with, startWith, false, c), startWith), windows),
                                     envelope(fromStart(part(tune, without, startWithout, false, c), startWithout), windows));
        EXPECT_GE(r, 0.97) << "channel " << c;
        std::cout << "channel " << c << ": " << r << "\n";
    }
}

// Where channel 0's marker starts after each whole second of `due` (-1 when it does
// not within the second): the first sample louder than half the markers' loudness.
std::vector<long> markerOnsets(const std::string& hes, double seconds, const std::vector<long>& due)
{
    const std::vector<double> s =
        mono(renderVoices(hes, seconds, [](const std::string& v) { return v == "Wave 1"; }, nullptr, true));
    double loud = 0;
    for (const double x : s) loud = std::max(loud, std::fabs(x));
    std::vector<long> found;
    for (const long at : due) {
        long n = at - 2205;
        const long last = std::min(at + 44100, static_cast<long>(s.size()));
        while (n < last && std::fabs(s[static_cast<std::size_t>(n)]) < loud / 2) ++n;
        found.push_back(n < last ? n : -1);
    }
    return found;
}

// Random mixes of ADPCM streams up to 32 kHz among HuC6280 writes and waits, a loop
// of six seconds over a minute: every marker comes where it does with nothing between
// them, within the 0.5 ms a marker may wait behind a run under way. A player that
// cannot decode a stream's nibbles as fast as they come drops some; it never drifts.
TEST(AdpcmTime, RandomMixesKeepTheMarkersInPlace)
{
    constexpr unsigned kMarkers = 5;
    constexpr double kSeconds = 60.5;
    std::vector<long> due; // whole seconds with a marker: all but the loop's first
    for (long at = 44100; at + 44100 < kSeconds * 44100; at += 44100) {
        if (at % (44100 * (kMarkers + 1)) != 0) due.push_back(at);
    }
    ScratchDir dir;
    const songs::Song alone =
        songs::cdTimedSong("cd-markers", kMarkers, kSeconds, [](songs::HucLog&, std::uint32_t) { return 0u; });
    const std::vector<long> want = markerOnsets(convertSong(dir, alone.name, alone.vgm), kSeconds, due);
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        const songs::Song mixed =
            songs::cdTimedSong("cd-mix-" + std::to_string(seed), kMarkers, kSeconds, songs::CdMix(seed));
        const std::vector<long> got = markerOnsets(convertSong(dir, mixed.name, mixed.vgm), kSeconds, want);
        long worst = 0;
        for (std::size_t m = 0; m < due.size(); ++m) {
            ASSERT_GE(want[m], 0) << "no marker at " << due[m] << " alone";
            ASSERT_GE(got[m], 0) << mixed.name << ": no marker at " << due[m];
            worst = std::max(worst, std::labs(got[m] - want[m]));
        }
        EXPECT_LE(worst, 24) << mixed.name;
        std::cout << mixed.name << " (" << mixed.vgm.size() / 1024 << " KiB): the worst of " << due.size()
                  << " markers " << worst << " samples from its place\n";
    }
}

} // namespace
} // namespace quorvel::test
