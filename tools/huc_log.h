// HuC6280 PSG logs of our own: register writes and waits in, a VGM image (command
// 0xB9) out, together with what each write makes the PSG play, channel by channel
// and sample by sample, for the tests to hold a render against.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/vgm_builder.h"

namespace quorvel::songs {

// What one PSG channel plays from a given sample on.
struct Voice {
    bool on = false;
    bool dda = false;
    bool noise = false;
    bool checked = true;  // false while the LFO bends it (libgme does not play the LFO)
    unsigned period = 0;  // 12 bits
    unsigned volume = 0;  // 5 bits
    unsigned balance = 0xFF;
    unsigned sample = 16; // the DDA output, 5 bits
    std::array<std::uint8_t, 32> wave{};

    // Loudness against a full-volume, centred channel: left plus right, as the
    // mixer's 1.5 dB steps give it (each balance step is two of them).
    double gain(unsigned mainBalance) const
    {
        const auto side = [&](unsigned shift) {
            const int index = static_cast<int>(volume) - 60 + 2 * static_cast<int>((balance >> shift) & 0x0F) +
                              2 * static_cast<int>((mainBalance >> shift) & 0x0F);
            return index <= 0 ? 0.0 : std::pow(10.0, -1.5 * (31 - index) / 20.0);
        };
        return side(4) + side(0);
    }
    // The RMS of what the channel sends out (its mean taken away), before the gain.
    double level() const
    {
        if (!on) return 0.0;
        if (dda) return std::fabs(static_cast<double>(sample) - 16.0);
        if (noise) return 15.5;
        double mean = 0, square = 0;
        for (std::uint8_t v : wave) mean += v / 32.0;
        for (std::uint8_t v : wave) square += (v - mean) * (v - mean) / 32.0;
        return std::sqrt(square);
    }
    double hz(double clock) const { return clock / (32.0 * period); }
};

class HucLog {
public:
    struct Change {
        std::uint32_t at; // sample
        std::array<Voice, 6> voices;
        unsigned mainBalance;
    };

    explicit HucLog(std::uint32_t clock = 3579545) : vgm_(0x161, 0x100)
    {
        vgm_.field(0xA4, clock);
        changes_.push_back({0, voices_, mainBalance_});
    }

    // The CD unit's ADPCM command 0x32 dd, written through write() as this register.
    static constexpr unsigned kAdpcm = 0x100;

    // 0xB9 register value, and what it does to the PSG.
    void write(unsigned reg, unsigned value)
    {
        if (reg == kAdpcm) {
            vgm_.commands({0x32, static_cast<std::uint8_t>(value)});
            return;
        }
        vgm_.commands({0xB9, static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value)});
        Voice* v = select_ < 6 ? &voices_[select_] : nullptr;
        switch (reg) {
        case 0: select_ = value & 7; break;
        case 1: mainBalance_ = value; break;
        case 2: if (v) v->period = (v->period & 0xF00) | value; break;
        case 3: if (v) v->period = (v->period & 0x0FF) | (value & 0x0F) << 8; break;
        case 4:
            if (v) {
                if ((value & 0xC0) == 0x40) index_[select_] = 0;
                v->on = value & 0x80;
                v->dda = value & 0x40;
                v->volume = value & 0x1F;
            }
            break;
        case 5: if (v) v->balance = value; break;
        case 6:
            if (v && v->dda) v->sample = value & 0x1F;
            else if (v) v->wave[index_[select_]++ & 31] = static_cast<std::uint8_t>(value & 0x1F);
            break;
        case 7: if (v && select_ >= 4) v->noise = value & 0x80; break;
        default: break;
        }
        changed();
    }
    void unchecked(unsigned channel, bool off)
    {
        voices_[channel].checked = !off;
        changed();
    }
    // Short waits as 0x7n, as logs write them.
    void wait(std::uint32_t samples)
    {
        if (samples >= 1 && samples <= 16) vgm_.commands({static_cast<std::uint8_t>(0x6F + samples)});
        else vgm_.wait(samples);
        now_ += samples;
    }
    std::uint32_t now() const { return now_; }
    // An SN76489 write (0x50), for songs with both chips.
    void sn(std::uint8_t value) { vgm_.commands({0x50, value}); }
    void field(std::size_t offset, std::uint32_t value) { vgm_.field(offset, value); }
    void loopHere() { vgm_.loopHere(); }

    // Channel `c` set up with `wave`, period, volume and balance.
    void tone(unsigned c, const std::array<std::uint8_t, 32>& wave, unsigned period, unsigned volume,
              unsigned balance = 0xFF)
    {
        write(0, c);
        write(4, 0x40); // off: the waveform index restarts
        write(4, 0x00);
        for (std::uint8_t s : wave) write(6, s);
        write(2, period & 0xFF);
        write(3, period >> 8);
        write(5, balance);
        write(4, 0x80 | volume);
    }

    const std::vector<Change>& changes() const { return changes_; }
    Bytes finish(const std::string& title) { return vgm_.finish(title); }

private:
    void changed()
    {
        if (changes_.back().at == now_) changes_.pop_back();
        changes_.push_back({now_, voices_, mainBalance_});
    }

    VgmBuilder vgm_;
    std::uint32_t now_ = 0;
    unsigned select_ = 0;
    unsigned mainBalance_ = 0xFF;
    std::array<Voice, 6> voices_{};
    std::array<unsigned, 6> index_{};
    std::vector<Change> changes_;
};

} // namespace quorvel::songs
