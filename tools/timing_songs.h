// Timing test songs: seeded random mixes of every command that waits or plays PCM
// (0x8n, 0x7n, 0x61-0x63, DAC writes, 0xE0, DAC streams 0x90-0x95 with any values)
// among YM2612 and SN76489 writes, and a driver that writes the YM2612 with every
// DAC sample; each with a loud SN76489 marker on tone 2 at every whole second.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "tools/ym_songs.h"

namespace quorvel::songs {

// A song whose tone 2 sounds for 0.1 s from each whole second of `markers` (the
// first at 1 s); the mix between them is written by the song's own generator, and
// the last 10 ms before each marker are a plain wait, so that the player is free
// when the marker is due. The song loops every `markers` + 1 seconds.
struct TimedSong {
    Song song;
    std::uint32_t loopSamples;
};

constexpr std::uint32_t kSecond = 44100;
constexpr std::uint32_t kMarkerOn = 4410;  // samples each marker sounds
constexpr std::uint32_t kCalm = 441;       // samples of plain wait before each marker

// Between markers tone 2 stays on, 28 dB down (below what the tests take for an onset),
// so that the player keeps its PSG channel for it and no FM voice sounds there.
inline void markerNote(VgmBuilder& v, bool on)
{
    if (on) v.commands({0x50, 0xC8, 0x50, 0x08, 0x50, 0xD0}); // tone 2, period 0x88 (823 Hz), loud
    else v.commands({0x50, 0xDE});
}

// Writes the commands of one random mix (`fill` adds commands for up to the samples
// it is given and returns the samples it waited) between the markers.
template <class Fill>
TimedSong timedSong(const std::string& name, const Bytes& bank, unsigned markers, double seconds, Fill fill)
{
    VgmBuilder v = ymStart();
    v.dataBlock(0x00, bank);
    v.commands({0x52, 0x2B, 0x80});
    v.loopHere();
    const auto span = [&](std::uint32_t samples) {
        const std::uint32_t used = fill(v, samples);
        v.wait(samples - used);
    };
    span(kSecond - kCalm);
    v.wait(kCalm);
    for (unsigned m = 0; m < markers; ++m) {
        markerNote(v, true);
        span(kMarkerOn);
        markerNote(v, false);
        span(kSecond - kMarkerOn - kCalm);
        v.wait(kCalm);
    }
    return {{name, v.finish(name), seconds}, (markers + 1) * kSecond};
}

// The same song with nothing between the markers: what the player does when free.
inline TimedSong markersAlone(const Bytes& bank, unsigned markers, double seconds)
{
    return timedSong("markers", bank, markers, seconds, [](VgmBuilder&, std::uint32_t) { return 0u; });
}

// Adds random commands for up to `samples`: single commands of every kind and runs of
// PCM as drivers write it, 0x8n or DAC writes with waits, FM writes and seeks among
// them. Tone 2 of the SN76489 and FM channel 3 (PSG channel 2) are left to the
// markers. Returns the samples waited.
class RandomMix {
public:
    RandomMix(std::uint32_t seed, std::uint32_t bankSize) : rng_(seed), bankSize_(bankSize) {}

    std::uint32_t operator()(VgmBuilder& v, std::uint32_t samples)
    {
        std::uint32_t t = 0;
        while (t < samples) {
            const std::uint32_t left = samples - t;
            const unsigned kind = pick(20);
            if (kind < 6) {
                t += pcmRun(v, left);
            } else if (kind < 8) {
                const std::uint32_t n = pick(16);
                if (n > left) break;
                v.commands({u8(0x80 | n)});
                t += n;
            } else if (kind < 10) {
                const std::uint32_t n = pick(16) + 1;
                if (n > left) break;
                v.commands({u8(0x70 | (n - 1))});
                t += n;
            } else if (kind == 10) {
                const std::uint32_t n = pick(3) == 0 ? pick(2000) : pick(300);
                if (n > left) break;
                v.commands({0x61, u8(n), u8(n >> 8)});
                t += n;
            } else if (kind == 11) {
                const bool ntsc = pick(2);
                const std::uint32_t n = ntsc ? 735 : 882;
                if (n > left) break;
                v.commands({u8(ntsc ? 0x62 : 0x63)});
                t += n;
            } else if (kind < 15) {
                fmWrite(v);
            } else if (kind == 15) {
                snWrite(v);
            } else if (kind == 16) {
                seek(v);
            } else {
                streamCommand(v);
            }
        }
        return t;
    }

private:
    unsigned pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }

    // A run of PCM samples: 0x8n or 0x52 0x2A, each followed by nothing, a short wait,
    // a 0x61 wait, an FM write or a DAC write, in one of the patterns drivers use.
    std::uint32_t pcmRun(VgmBuilder& v, std::uint32_t left)
    {
        const unsigned pattern = pick(6);
        const bool withFm = pattern == 2 || pattern == 4 || pattern == 5;
        // Samples between samples: 8.8-22 kHz, and 8.8-11 kHz where the driver writes
        // the YM2612 with every sample.
        const unsigned gap = withFm ? 4 + pick(2) : 2 + pick(4);
        const unsigned count = 20 + pick(1500);
        if (pick(3) == 0) seek(v);
        std::uint32_t t = 0;
        for (unsigned k = 0; k < count && t + gap <= left; ++k) {
            const bool fromBank = pattern != 3 && pattern != 4;
            const unsigned own = fromBank ? (pattern == 0 ? gap : std::min(gap, pick(2))) : 0;
            if (fromBank) v.commands({u8(0x80 | own)});
            else v.commands({0x52, 0x2A, u8(pick(256))});
            if (withFm) fmWrite(v);
            if (pattern == 5) v.commands({0x52, 0x2A, u8(pick(256))});
            const unsigned rest = gap - own;
            if (rest > 0) {
                if (pick(4) == 0) v.commands({0x61, u8(rest), 0x00});
                else v.commands({u8(0x70 | (rest - 1))});
            }
            t += own + rest;
        }
        return t;
    }

    void fmWrite(VgmBuilder& v)
    {
        const bool port1 = pick(2);
        std::uint8_t reg = u8(pick(256)), value = u8(pick(256));
        if (pick(3) == 0) reg = u8(0x28); // key on and off, often
        if (reg == 0x28 && (value & 0x07) == 0x02) value ^= 0x01; // FM 3 is the markers'
        v.commands({u8(port1 ? 0x53 : 0x52), reg, value});
    }

    void snWrite(VgmBuilder& v)
    {
        static const unsigned channels[] = {0, 1, 3};
        const unsigned channel = channels[pick(3)];
        v.commands({0x50, u8(0x80 | channel << 5 | pick(32))});
        if (pick(2)) v.commands({0x50, u8(pick(64))});
    }

    void seek(VgmBuilder& v)
    {
        const std::uint32_t at = pick(8) == 0 ? static_cast<std::uint32_t>(rng_()) : pick(bankSize_ + 100);
        v.commands({0xE0, le(at, 0), le(at, 1), le(at, 2), le(at, 3)});
    }

    std::uint8_t anyStream() { return u8(pick(4) == 0 ? pick(256) : pick(2)); }

    void streamCommand(VgmBuilder& v)
    {
        const std::uint8_t id = anyStream();
        switch (pick(6)) {
        case 0:
            if (pick(2)) v.commands({0x90, id, 0x02, 0x00, 0x2A});
            else v.commands({0x90, id, u8(pick(256)), u8(pick(2)), u8(pick(256))});
            break;
        case 1:
            v.commands({0x91, id, u8(pick(4) == 0 ? pick(256) : 0), u8(pick(4)), u8(pick(3))});
            break;
        case 2: {
            const std::uint32_t choices[] = {0, static_cast<std::uint32_t>(rng_()), 4000 + pick(40000),
                                             100000 + pick(10000000), 8000 + pick(14000)};
            const std::uint32_t hz = choices[pick(5)];
            v.commands({0x92, id, le(hz, 0), le(hz, 1), le(hz, 2), le(hz, 3)});
            break;
        }
        case 3: {
            const std::uint32_t at = pick(6) == 0 ? static_cast<std::uint32_t>(rng_()) : pick(bankSize_ + 100);
            const std::uint32_t length = pick(4) == 0 ? static_cast<std::uint32_t>(rng_()) : pick(30000);
            v.commands({0x93, id, le(at, 0), le(at, 1), le(at, 2), le(at, 3), u8(pick(256)), le(length, 0),
                        le(length, 1), le(length, 2), le(length, 3)});
            break;
        }
        case 4:
            v.commands({0x94, u8(pick(4) == 0 ? 0xFF : id)});
            break;
        default:
            v.commands({0x95, id, u8(pick(3)), u8(pick(8) == 0 ? pick(256) : 0), u8(pick(256))});
            break;
        }
    }

    std::mt19937 rng_;
    std::uint32_t bankSize_;
};

// A sound driver that writes the YM2612 with every DAC sample: 0x8n, an FM write (a
// frequency, level or pan, now and then a timer write the converter drops) and a
// short wait, at 8.8-11 kHz, with a seek to the start of a drum now and then.
class DriverMix {
public:
    explicit DriverMix(std::uint32_t seed) : rng_(seed) {}

    std::uint32_t operator()(VgmBuilder& v, std::uint32_t samples)
    {
        static const std::uint8_t registers[] = {0xA0, 0xA1, 0xA2, 0xA4, 0xA5, 0xA6, 0x40, 0x4C, 0xB4, 0x27};
        std::uint32_t t = 0;
        const unsigned gap = 4 + rng_() % 2;
        while (t + gap <= samples) {
            if (t % 2000 < gap) v.commands({0xE0, 0x00, 0x00, 0x00, 0x00});
            const unsigned own = rng_() % 2;
            const std::uint8_t reg = registers[rng_() % 10];
            v.commands({u8(0x80 | own), u8(rng_() % 2 ? 0x53 : 0x52), reg, u8(reg == 0x27 ? 0x15 : rng_())});
            v.commands({u8(0x70 | (gap - own - 1))});
            t += gap;
        }
        return t;
    }

private:
    std::mt19937 rng_;
};

} // namespace quorvel::songs
