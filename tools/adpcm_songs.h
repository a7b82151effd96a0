// PC Engine CD test songs: a HuC6280 tune with the CD unit's ADPCM drums (0x32
// nibbles) beside it, and what the ADPCM plays sample by sample, worked out by a
// decoder of our own from the published OKI algorithm.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/huc_songs.h"

namespace quorvel::songs {

// The MSM5205's decoder as VGM players run it: 49 step sizes 16 x 1.1^n, the step
// moved by the nibble's low three bits, the signal leaking 11/256 a nibble and held
// to 12 bits.
struct AdpcmDecoder {
    int signal = -2;
    int step = 0;

    static int stepSize(int n) { return static_cast<int>(std::floor(16.0 * std::pow(11.0 / 10.0, n))); }

    int decode(unsigned nibble)
    {
        static const int adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        const int size = stepSize(step);
        int change = size / 8 + (nibble & 4 ? size : 0) + (nibble & 2 ? size / 2 : 0) + (nibble & 1 ? size / 4 : 0);
        if (nibble & 8) change = -change;
        const int sum = change * 256 + signal * 245;
        signal = std::clamp(sum >= 0 ? sum / 256 : -((-sum + 255) / 256), -2048, 2047); // floor
        step = std::clamp(step + adjust[nibble & 7], 0, 48);
        return signal;
    }
    void clear()
    {
        signal = 0;
        step = 0;
    }
};

// The nibbles whose decode follows `pcm` (12-bit units) most closely, one at a time;
// for 3-bit samples only the even nibbles, which they decode as.
inline std::vector<std::uint8_t> adpcmEncode(const std::vector<double>& pcm, bool threeBit = false)
{
    AdpcmDecoder d;
    d.clear();
    std::vector<std::uint8_t> out;
    for (const double x : pcm) {
        unsigned best = 0;
        double bestError = 1e9;
        for (unsigned n = 0; n < 16; n += threeBit ? 2 : 1) {
            AdpcmDecoder trial = d;
            const double error = std::fabs(trial.decode(n) - x);
            if (error < bestError) bestError = error, best = n;
        }
        d.decode(best);
        out.push_back(static_cast<std::uint8_t>(best));
    }
    return out;
}

// A kick (a falling sine) or a snare (noise over a 190 Hz tone), at `rate` Hz.
inline std::vector<double> drumHit(bool kick, unsigned rate, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const std::size_t length = rate * (kick ? 150 : 120) / 1000;
    std::vector<double> out(length);
    double phase = 0;
    for (std::size_t k = 0; k < length; ++k) {
        const double t = static_cast<double>(k) / rate;
        if (kick) {
            phase += 2 * M_PI * (55 + 110 * std::exp(-t / 0.03)) / rate;
            out[k] = 1700 * std::exp(-t / 0.06) * std::sin(phase);
        } else {
            out[k] = (900 * noise(rng) + 600 * std::sin(2 * M_PI * 190 * t)) * std::exp(-t / 0.04);
        }
    }
    return out;
}

struct CdSong {
    std::string name;
    Bytes vgm;
    std::vector<HucLog::Change> changes; // from the song's start (after the setup)
    std::vector<double> adpcm;       // the ADPCM's signal at each sample from then, 12-bit units
    std::vector<std::uint32_t> hits; // where each drum hit starts
    double seconds;
};

// How the nibbles are written: as data (master mode), each with a VCK pulse after it
// (in master mode, which does without; in slave mode, where it decodes), or 3 bits.
enum class AdpcmFeed { Master, MasterVck, Slave, ThreeBit };

// A six-channel tune: melody, bass, chords on channels 0-3 all along; channel 5 a
// tone for the first 1.5 s and from 3.25 s; channel 4 noise hits from 1.6 to 3 s.
// So the ADPCM has channel 4, then 5 when the noise starts, then 4 again. The drums:
// a kick or a snare every quarter note from 0.25 s, written as 0x32 nibbles at `rate`
// (the header's clock 1.536 MHz, S1 and S2 giving / 96 for 16 kHz and / 48 for 32
// kHz; in slave mode the VCK pulses set it), the chip released from reset for each hit.
// With `withAdpcm` false the same tune alone.
inline CdSong pceCdSong(unsigned rate, AdpcmFeed feed = AdpcmFeed::Master, bool withAdpcm = true)
{
    constexpr std::uint32_t kNote = 11025, kFrame = 882;
    constexpr std::uint32_t kLength = 4 * 44100;
    HucLog log;
    log.field(0xF0, 1536000);
    const unsigned prescaler = rate == 32000 ? 2 : feed == AdpcmFeed::Slave ? 3 : 0;
    log.field(0xD4, (prescaler | (feed == AdpcmFeed::ThreeBit ? 0u : 4u)) << 24);
    log.write(1, 0xFF);
    const Wave waves[] = {sineWave(), sawWave(), triangleWave(), pulseWave(), sineWave(), triangleWave()};
    for (unsigned c = 0; c < 6; ++c) log.tone(c, waves[c], 0, 0);
    log.wait(4410); // the setup played out: the song's time starts here

    // Writes due `t` samples into the song.
    Schedule s;
    const std::uint32_t t0 = log.now();
    static const int melody[] = {72, 76, 79, 84, 83, 79, 76, 74, 72, 71, 67, 69, 72, 74, 76, 79};
    for (unsigned n = 0; n < 16; ++n) {
        const std::uint32_t t = n * kNote;
        for (unsigned c = 0; c < 4; ++c) {
            const int note = melody[(n + 3 * c) % 16] - 12 * static_cast<int>(c % 3);
            const unsigned p = pcePeriod(midiHz(note));
            s.at(t0 + t, c, {{2, p & 0xFF}, {3, p >> 8}});
            for (unsigned f = 0; f * kFrame < kNote; ++f) s.at(t0 + t + f * kFrame, c, {{4, 0x80 | (28 - std::min(f, 12u))}});
        }
    }
    const unsigned p5 = pcePeriod(330);
    s.at(t0, 5, {{2, p5 & 0xFF}, {3, p5 >> 8}, {4, 0x98}});
    s.at(t0 + 6 * kNote, 5, {{4, 0x80}});
    s.at(t0 + 13 * kNote, 5, {{4, 0x98}});
    for (std::uint32_t t = 6 * kNote + 4410; t < 12 * kNote; t += kNote / 2) {
        s.at(t0 + t, 4, {{7, 0x80 | 20}});
        for (unsigned f = 0; f < 6; ++f) s.at(t0 + t + f * kFrame, 4, {{4, 0x80 | (30 - 5 * f)}});
        s.at(t0 + t + 6 * kFrame, 4, {{4, 0x80}});
    }
    s.at(t0 + kLength, {{0, 0}, {4, 0}, {0, 1}, {4, 0}, {0, 2}, {4, 0}, {0, 3}, {4, 0}, {0, 4}, {4, 0}, {0, 5}, {4, 0}});

    CdSong song;
    std::vector<std::pair<std::uint32_t, int>> levels; // the signal from each sample on
    AdpcmDecoder decoder;
    if (withAdpcm) {
        const auto adpcm = [&](std::uint32_t t, std::vector<std::uint8_t> values) {
            Schedule::Writes writes;
            for (const std::uint8_t v : values) writes.emplace_back(HucLog::kAdpcm, v);
            s.at(t0 + t, writes);
        };
        for (unsigned hit = 0; hit < 14; ++hit) {
            const std::uint32_t start = (hit + 1) * kNote;
            song.hits.push_back(start);
            const bool threeBit = feed == AdpcmFeed::ThreeBit;
            const std::vector<std::uint8_t> nibbles = adpcmEncode(drumHit(hit % 2 == 0, rate, hit), threeBit);
            adpcm(start, {0x00}); // out of reset: signal and step cleared
            decoder.clear();
            std::uint32_t end = start;
            for (std::size_t k = 0; k < nibbles.size(); ++k) {
                const std::uint32_t t = start + static_cast<std::uint32_t>(std::lround(k * 44100.0 / rate));
                const unsigned n = nibbles[k];
                if (feed == AdpcmFeed::Slave || feed == AdpcmFeed::MasterVck) adpcm(t, {u8(0x10 | n), 0x21, 0x20});
                else adpcm(t, {u8(0x10 | (threeBit ? n >> 1 : n))});
                levels.emplace_back(t, decoder.decode(n));
                end = t + 1;
            }
            adpcm(end + 20, {0x01}); // back to reset: 0
            levels.emplace_back(end + 20, 0);
        }
    }
    song.adpcm.assign(kLength + 4410, 0.0);
    std::size_t next = 0;
    double level = 0;
    for (std::uint32_t n = 0; n < song.adpcm.size(); ++n) {
        while (next < levels.size() && levels[next].first <= n) level = levels[next++].second;
        song.adpcm[n] = level;
    }
    s.play(log);
    log.wait(4410);
    song.name = "cd-" + std::to_string(rate / 1000) + (feed == AdpcmFeed::Slave ? "-slave" : "") +
                (feed == AdpcmFeed::MasterVck ? "-vck" : "") +
                (feed == AdpcmFeed::ThreeBit ? "-3bit" : "") + (withAdpcm ? "" : "-tune");
    song.vgm = log.finish(song.name);
    song.changes = log.changes(); // on the song's time: the setup's at 0
    for (HucLog::Change& change : song.changes) change.at = change.at > t0 ? change.at - t0 : 0;
    song.seconds = static_cast<double>(t0 + kLength) / 44100.0 + 0.05;
    return song;
}

} // namespace quorvel::songs

namespace quorvel::songs {

// Seeded random mixes for the timing tests: ADPCM streams at 8-32 kHz (slave mode's,
// with a VCK pulse after each nibble, to 16 kHz), 3 or 4 bits, with resets, rate and
// width writes and the second chip's writes among them, HuC6280 writes to channels 1-5
// that take channels from the ADPCM and give them back, and waits of every kind.
// Channel 0 is left to the markers. Returns the samples waited.
class CdMix {
public:
    explicit CdMix(std::uint32_t seed) : rng_(seed) {}

    std::uint32_t operator()(HucLog& log, std::uint32_t samples)
    {
        std::uint32_t t = 0;
        while (t < samples) {
            const std::uint32_t left = samples - t;
            const unsigned kind = pick(12);
            if (kind < 6) {
                t += stream(log, left);
            } else if (kind == 6) {
                static const std::uint8_t settings[] = {0x00, 0x01, 0x40, 0x41, 0x42, 0x43, 0x50, 0x51, 0x30, 0x60, 0x70};
                log.write(HucLog::kAdpcm, pick(4) == 0 ? u8(0x80 | pick(128)) : settings[pick(11)]);
            } else if (kind < 9) {
                hucWrites(log);
            } else {
                const std::uint32_t n = pick(3) == 0 ? 1 + pick(2000) : 1 + pick(16);
                if (n > left) break;
                log.wait(n);
                t += n;
            }
        }
        return t;
    }

private:
    unsigned pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }

    std::uint32_t stream(HucLog& log, std::uint32_t left)
    {
        static const unsigned rates[] = {8000, 11025, 16000, 16000, 22050, 32000, 32000, 32000};
        const bool slave = pick(5) == 0;
        const unsigned rate = rates[pick(slave ? 4 : 8)];
        const unsigned count = 50 + pick(3000);
        log.write(HucLog::kAdpcm, slave ? 0x43 : u8(0x40 | pick(3)));
        if (pick(2)) log.write(HucLog::kAdpcm, 0x00);
        std::uint32_t t = 0;
        for (unsigned k = 0; k < count; ++k) {
            const auto due = static_cast<std::uint32_t>(std::lround(k * 44100.0 / rate));
            if (due >= left) break;
            if (due > t) {
                log.wait(due - t);
                t = due;
            }
            log.write(HucLog::kAdpcm, u8(0x10 | pick(16)));
            if (slave || pick(8) == 0) {
                log.write(HucLog::kAdpcm, 0x21);
                log.write(HucLog::kAdpcm, 0x20);
            }
            if (pick(64) == 0) hucWrites(log);
            if (pick(256) == 0) log.write(HucLog::kAdpcm, u8(pick(2) ? 0x01 : 0x00));
        }
        return t;
    }

    void hucWrites(HucLog& log)
    {
        const unsigned channel = 1 + pick(5);
        log.write(0, channel);
        for (unsigned n = pick(4); n-- > 0;) {
            static const unsigned registers[] = {2, 3, 4, 4, 5, 6, 7};
            const unsigned reg = registers[pick(7)];
            log.write(reg, reg == 4 ? (pick(2) ? 0x80 | pick(32) : pick(256)) : pick(256));
        }
    }

    std::mt19937 rng_;
};

// A PC Engine CD song whose channel 0 plays a loud 0.1 s marker from each of the
// first `markers` whole seconds of a loop of `markers` + 1 seconds, and stays on,
// quiet, between them; `fill` writes the rest. The last 10 ms before each marker are
// a plain wait.
template <class Fill>
Song cdTimedSong(const std::string& name, unsigned markers, double seconds, Fill fill)
{
    HucLog log;
    log.field(0xF0, 1536000);
    log.field(0xD4, 0x04u << 24);
    log.write(1, 0xFF);
    const unsigned period = pcePeriod(880);
    log.tone(0, sineWave(), period, 4);
    log.loopHere();
    const auto span = [&](std::uint32_t samples) {
        const std::uint32_t used = fill(log, samples);
        log.wait(samples - used);
    };
    span(44100 - 441);
    log.wait(441);
    for (unsigned m = 0; m < markers; ++m) {
        log.write(0, 0);
        log.write(4, 0x80 | 31);
        span(4410);
        log.write(0, 0);
        log.write(4, 0x80 | 4);
        span(44100 - 4410 - 441);
        log.wait(441);
    }
    return {name, log.finish(name), seconds};
}

} // namespace quorvel::songs
