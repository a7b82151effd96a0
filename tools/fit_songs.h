// Songs too large for the 31 banks a HuC6280 maps, built the way Mega Drive sound
// drivers write PCM: a continuous 22 kHz stream of 0x8n over a small sample bank
// with a seek at every drum and every stretch of silence, or the same drums as
// direct DAC writes each with a short wait; a PSG bass line under them and a loop
// after the first bar. Used by the -fit tests and make_example.
#pragma once

#include "tools/ym_songs.h"

namespace quorvel::songs {

struct FitSong {
    Song song;
    std::uint32_t loopSample; // where the loop starts, in samples
    std::uint32_t samples;    // the whole song's length
};

inline FitSong pcmBeyondOneMebibyte(bool direct, double seconds)
{
    VgmBuilder v = ymStart();
    const Bytes silence(2000, 0x80);
    const Bytes kick = drumSound(5200, 70, 22050), snare = drumSound(4800, 900, 22050),
                hat = drumSound(1600, 3000, 22050);
    Bytes bank = silence;
    const std::uint32_t kickAt = static_cast<std::uint32_t>(bank.size());
    bank.insert(bank.end(), kick.begin(), kick.end());
    const std::uint32_t snareAt = static_cast<std::uint32_t>(bank.size());
    bank.insert(bank.end(), snare.begin(), snare.end());
    const std::uint32_t hatAt = static_cast<std::uint32_t>(bank.size());
    bank.insert(bank.end(), hat.begin(), hat.end());
    if (!direct) v.dataBlock(0x00, bank);
    v.commands({0x52, 0x2B, 0x80, 0x53, 0xB6, 0xC0});

    // Each sample: 0x82 from the bank at 22 kHz, or a DAC write and a 0x71 wait; the
    // driver jitters by a sample now and then, as real ones do.
    std::uint32_t now = 0, seed = 7;
    const auto play = [&](std::uint32_t from, std::uint32_t length, std::uint32_t until) {
        if (!direct) v.commands({0xE0, le(from, 0), le(from, 1), le(from, 2), le(from, 3)});
        for (std::uint32_t k = 0; k < length && now + 3 <= until; ++k) {
            seed = seed * 1103515245u + 12345u;
            const unsigned gap = (seed >> 16) % 16 == 0 ? 3 : 2;
            if (direct) {
                v.commands({0x52, 0x2A, bank[from + k], u8(0x70 | (gap - 1))});
            } else {
                v.commands({u8(0x80 | gap)});
            }
            now += gap;
        }
    };
    static const int bass[] = {36, 36, 43, 41};
    const std::uint32_t beat = 11025, total = static_cast<std::uint32_t>(seconds * 44100);
    std::uint32_t loop = 0;
    for (int n = 0; now + beat <= total; ++n) {
        if (n == 4) {
            v.loopHere();
            loop = now;
        }
        const std::uint32_t end = now + beat;
        tone(v, 0, bass[(n / 2) % 4] + 12, n % 2 ? 4 : 0);
        const std::uint32_t drum = n % 2 ? snareAt : (n % 4 == 0 ? kickAt : hatAt);
        const std::uint32_t length = n % 2 ? 4800 : (n % 4 == 0 ? 5200 : 1600);
        play(drum, length, end);
        while (now + 3 <= end) play(0, 2000, end); // silence, as the driver streams it
        v.wait(end - now);
        now = end;
    }
    const std::string name = direct ? "fit-dac-writes" : "fit-pcm";
    Bytes vgm = v.finish(name);
    setLe32(vgm, 0x18, now);          // total samples
    setLe32(vgm, 0x20, now - loop);   // loop samples
    return {{name, vgm, seconds}, loop, now};
}

} // namespace quorvel::songs
