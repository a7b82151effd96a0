// PC Engine test songs of our own (HuC6280 logs) for the player: each a VGM image in
// memory with what its writes play, channel by channel. Used by the player tests and
// by make_example --songs.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "tools/huc_log.h"
#include "tools/songs.h"

namespace quorvel::songs {

using Wave = std::array<std::uint8_t, 32>;

struct HucSong {
    std::string name;
    std::uint32_t clock; // the HuC6280's, in Hz
    Bytes vgm;
    std::vector<HucLog::Change> changes;
    double seconds;
    std::vector<std::pair<std::uint32_t, unsigned>> onsets; // due sample, channel
};

// Waveforms whose first harmonic is the strongest, so that a spectrum's peak is the note.
inline Wave sineWave()
{
    Wave w{};
    for (std::size_t k = 0; k < 32; ++k) w[k] = u8(std::lround(15.5 + 15.0 * std::sin(2 * M_PI * k / 32)));
    return w;
}
inline Wave sawWave()
{
    Wave w{};
    for (std::size_t k = 0; k < 32; ++k) w[k] = u8(k);
    return w;
}
inline Wave triangleWave()
{
    Wave w{};
    for (std::size_t k = 0; k < 32; ++k) w[k] = u8(k < 16 ? 2 * k : 63 - 2 * k);
    return w;
}
inline Wave pulseWave()
{
    Wave w{};
    for (std::size_t k = 0; k < 32; ++k) w[k] = k < 8 ? 31 : 0;
    return w;
}

// Writes due at given samples, on given channels, put into one stream in time order.
class Schedule {
public:
    using Writes = std::vector<std::pair<unsigned, unsigned>>;
    void at(std::uint32_t time, unsigned channel, Writes writes)
    {
        writes.insert(writes.begin(), {0, channel});
        events_.emplace(time, std::move(writes));
    }
    void at(std::uint32_t time, Writes writes) { events_.emplace(time, std::move(writes)); }
    void unchecked(std::uint32_t time, unsigned channel, bool off) { flags_.emplace(time, std::make_pair(channel, off)); }
    void play(HucLog& log) const
    {
        auto flag = flags_.begin();
        for (const auto& [time, writes] : events_) {
            if (time > log.now()) log.wait(time - log.now());
            for (; flag != flags_.end() && flag->first <= time; ++flag) log.unchecked(flag->second.first, flag->second.second);
            for (const auto& [reg, value] : writes) log.write(reg, value);
        }
    }

private:
    std::multimap<std::uint32_t, Writes> events_;
    std::multimap<std::uint32_t, std::pair<unsigned, bool>> flags_;
};

inline unsigned pcePeriod(double hz, double clock = 3579545.0)
{
    return static_cast<unsigned>(std::lround(clock / (32.0 * hz)));
}

// Tones on all six channels with their own waveforms, volume envelopes and moving
// balance; noise on channels 4 and 5; a DDA drum loop on channel 5 at 7 kHz; the LFO
// on channels 0 and 1 for half a second. Periods are written for the given clock.
inline HucSong pceSong(std::uint32_t clock = 3579545)
{
    constexpr std::uint32_t kNote = 11025, kFrame = 882; // a quarter second, 20 ms
    HucLog log(clock);
    log.write(1, 0xFF);
    const Wave waves[] = {sineWave(), sawWave(), triangleWave(), pulseWave(), sineWave(), triangleWave()};
    for (unsigned c = 0; c < 6; ++c) log.tone(c, waves[c], 0, 0);

    Schedule s;
    static const int melody[] = {72, 76, 79, 84, 83, 79, 76, 74, 72, 71, 67, 69};
    static const std::uint8_t pans[] = {0xFF, 0xF8, 0x8F, 0xFA, 0xAF, 0xF4};
    for (unsigned n = 0; n < 12; ++n) {
        const std::uint32_t t = n * kNote;
        for (unsigned c = 0; c < 4; ++c) {
            if (c == 3 && n >= 8) continue;
            const int note = melody[(n + 3 * c) % 12] - 12 * static_cast<int>(c % 3);
            const unsigned p = pcePeriod(midiHz(note), clock);
            s.at(t, c, {{2, p & 0xFF}, {3, p >> 8}, {5, c == 2 ? pans[n % 6] : 0xFF}});
            for (unsigned f = 0; f * kFrame < kNote; ++f) {
                const unsigned volume = 31 - std::min(f * (1 + c), 24u);
                s.at(t + f * kFrame, c, {{4, 0x80 | volume}});
            }
        }
    }
    // Noise on channel 4 all along and on channel 5 for the first second: a hit
    // every eighth note at its own rate, fading.
    for (unsigned hit = 0; hit < 24; ++hit) {
        for (unsigned c = 4; c < 6; ++c) {
            if (c == 5 && hit >= 7) continue; // the drums take over at 1 s
            const std::uint32_t t = hit * kNote / 2 + (c == 5 ? kNote / 4 : 0);
            s.at(t, c, {{7, 0x80 | ((hit * 7 + c) & 0x1F)}});
            for (unsigned f = 0; f < 6; ++f) s.at(t + f * kFrame, c, {{4, 0x80 | (30 - 5 * f)}});
        }
    }
    // The drum loop: channel 5 in DDA mode, one hit a quarter note, 7000 samples a second.
    std::vector<std::pair<std::uint32_t, unsigned>> onsets;
    s.at(4 * kNote, 5, {{7, 0x00}, {4, 0xDF}, {6, 16}});
    std::uint32_t seed = 99;
    for (unsigned hit = 0; hit < 4; ++hit) {
        const std::uint32_t t = (4 + hit) * kNote + 2000;
        onsets.emplace_back(t, 5);
        for (unsigned k = 0; k < 300; ++k) {
            seed = seed * 1103515245u + 12345u;
            const double sign = k < 10 || (seed >> 16) & 1 ? 1.0 : -1.0; // a clear attack
            const double level = 15.0 * std::exp(-static_cast<double>(k < 10 ? 0 : k) / 80.0);
            s.at(t + static_cast<std::uint32_t>(std::lround(k * 44100.0 / 7000.0)), 5,
                 {{6, static_cast<unsigned>(std::lround(16 + sign * level))}});
        }
        s.at(t + 2000, 5, {{6, 16}});
    }
    // Channel 5 back to a tone for the last second.
    const unsigned p330 = pcePeriod(330, clock);
    s.at(8 * kNote, 5, {{4, 0x40}, {4, 0x00}, {2, p330 & 0xFF}, {3, p330 >> 8}, {4, 0x98}});
    // The LFO: channel 1 bends channel 0 from 2.0 to 2.5 s (libgme does not play it).
    s.at(8 * kNote, {{8, 0x20}, {9, 0x01}});
    s.at(10 * kNote, {{9, 0x80}, {9, 0x00}});
    for (unsigned c = 0; c < 2; ++c) {
        s.unchecked(8 * kNote, c, true);
        s.unchecked(10 * kNote, c, false);
    }
    s.at(12 * kNote, {{0, 0}, {4, 0}, {0, 1}, {4, 0}, {0, 2}, {4, 0}, {0, 3}, {4, 0}, {0, 4}, {4, 0}, {0, 5}, {4, 0}});
    s.play(log);
    log.wait(4410);
    const std::string name = clock == 3579545 ? "pce" : "pce-" + std::to_string(clock);
    return {name, clock, log.finish(name), log.changes(), 3.1, onsets};
}

// DDA steps on the six channels in turn, spaced by odd sample counts, then a burst of
// 200 writes with no wait and the step that follows it at once.
inline HucSong timingSong()
{
    static const std::uint32_t gaps[] = {1, 7, 13, 441, 3, 29, 2, 101, 5, 17, 11, 220, 1, 19, 37, 61, 9, 3};
    HucLog log;
    log.write(1, 0xFF);
    for (unsigned c = 0; c < 6; ++c) {
        log.write(0, c);
        log.write(5, 0xFF);
        log.write(4, 0xDF); // on, DDA, full volume
        log.write(6, 4);
    }
    log.wait(2205);
    std::vector<std::pair<std::uint32_t, unsigned>> onsets;
    std::array<bool, 6> high{};
    auto step = [&](unsigned c) {
        high[c] = !high[c];
        log.write(0, c);
        log.write(6, high[c] ? 28 : 4);
        onsets.emplace_back(log.now(), c);
    };
    for (unsigned n = 0; n < 120; ++n) {
        step(n % 6);
        log.wait(gaps[n % 18]);
    }
    log.wait(4410);
    for (unsigned n = 0; n < 200; ++n) log.write(8, n & 0xFF); // the LFO's rate, with the LFO off
    step(0); // late by the burst
    log.wait(2205);
    step(1); // on time again
    log.wait(4410);
    return {"timing", 3579545, log.finish("timing"), log.changes(), static_cast<double>(log.now()) / 44100.0, onsets};
}

// An SN76489 song and a HuC6280 log at once: SN76489 tones on PSG channels 0-2, the
// log's own on channels 0 and 5. The log takes channel 0 from its first select on;
// channels 1 and 2 stay the SN76489's.
inline HucSong bothChips()
{
    HucLog log;
    log.field(0x0C, 3579545);
    const auto snTone = [&log](unsigned channel, unsigned period) {
        log.sn(u8(0x80 | channel << 5 | (period & 0x0F)));
        log.sn(u8(period >> 4 & 0x3F));
        log.sn(u8(0x90 | channel << 5));
    };
    snTone(0, 254);
    snTone(1, 320);
    snTone(2, 427);
    log.wait(22050);
    log.write(1, 0xFF);
    log.tone(0, sineWave(), 170, 31);
    log.tone(5, triangleWave(), 500, 28);
    log.wait(22050);
    snTone(0, 200); // the log's channel now: not heard
    snTone(1, 285);
    log.wait(22050);
    return {"both", 3579545, log.finish("both"), log.changes(), 1.5, {}};
}

inline std::vector<HucSong> hucSongs() { return {pceSong(), pceSong(4000000), timingSong(), bothChips()}; }

} // namespace quorvel::songs
