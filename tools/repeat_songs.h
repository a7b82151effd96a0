// Songs that repeat themselves as music does: bars of random commands (YM2612 and
// SN76489 writes, key-ons, waits of every kind, PCM from the data bank with seeks,
// DAC stream starts and stops), bars repeated whole, in part and changed by a note,
// sections of bars repeated, and a loop. Used by the tests of -fit's repeats.
#pragma once

#include <vector>

#include "tools/ym_songs.h"

namespace quorvel::songs {

class RepeatingSong {
public:
    explicit RepeatingSong(std::uint32_t seed) : x_(seed * 2654435761u + 1) {}

    std::uint32_t pick(std::uint32_t n)
    {
        x_ = x_ * 1103515245u + 12345u;
        return (x_ >> 8) % n;
    }

    // One bar: `commands` random commands.
    std::vector<Bytes> bar(unsigned commands)
    {
        std::vector<Bytes> b;
        const auto add = [&b](std::initializer_list<std::uint8_t> c) { b.back().insert(b.back().end(), c); };
        for (unsigned n = 0; n < commands; ++n) {
            b.emplace_back();
            switch (pick(12)) {
            case 0:
            case 1:
                add({0x52, u8(0x30 + pick(0x80)), u8(pick(256))});
                break;
            case 2:
                add({0x53, u8(0x30 + pick(0x80)), u8(pick(256))});
                break;
            case 3:
                add({0x52, 0xA4, u8(pick(0x40)), 0x52, 0xA0, u8(pick(256))});
                break;
            case 4:
                add({0x52, 0x28, u8((pick(2) ? 0xF0 : 0x00) | pick(3))});
                break;
            case 5:
                add({0x50, u8(0x80 | pick(8) << 4 | pick(16))});
                break;
            case 6:
                add({u8(0x70 + pick(16))});
                break;
            case 7:
                add({0x61, u8(pick(256)), u8(pick(3))});
                break;
            case 8:
                add({u8(pick(2) ? 0x62 : 0x63)});
                break;
            case 9: { // a few PCM samples from a seek
                const std::uint32_t at = pick(4096);
                add({0xE0, le(at, 0), le(at, 1), 0x00, 0x00});
                for (unsigned k = pick(6); k > 0; --k) add({u8(0x80 + pick(4))});
                break;
            }
            case 10:
                if (pick(2)) {
                    const std::uint32_t at = pick(4096);
                    add({0x93, 0x00, le(at, 0), le(at, 1), 0x00, 0x00, 0x01, u8(pick(200)), 0x00, 0x00, 0x00});
                } else {
                    add({0x94, 0x00});
                }
                break;
            default:
                add({0x50, u8(pick(64))});
                break;
            }
        }
        return b;
    }

    // A song of `sections` sections, each of bars chosen from a few, with a loop at a
    // bar or inside one, after a data block of `dataBytes` (by default anything from
    // 4 to 64 KiB, so that the commands start anywhere in the first two banks).
    Bytes song(unsigned sections, std::uint32_t dataBytes = 0)
    {
        VgmBuilder v = ymStart();
        Bytes bank(dataBytes != 0 ? dataBytes : 4096 + pick(60000));
        for (std::uint8_t& s : bank) s = u8(pick(256));
        v.dataBlock(0x00, bank);
        v.commands({0x52, 0x2B, 0x80, 0x90, 0x00, 0x02, 0x00, 0x2A, 0x91, 0x00, 0x00, 0x01, 0x00,
                    0x92, 0x00, 0x44, 0xAC, 0x00, 0x00});
        std::vector<std::vector<Bytes>> bars;
        for (unsigned n = 0; n < 6; ++n) bars.push_back(bar(8 + pick(120)));
        std::vector<Bytes> parts;
        const unsigned loopAt = pick(sections * 4);
        unsigned made = 0;
        for (unsigned s = 0; s < sections; ++s) {
            Bytes section;
            for (unsigned b = 0, count = 2 + pick(6); b < count; ++b) {
                std::vector<Bytes> one = bars[pick(static_cast<std::uint32_t>(bars.size()))];
                if (pick(4) == 0) one.resize(one.size() / 2);                       // a bar cut short
                if (pick(5) == 0) one.insert(one.begin() + pick(static_cast<std::uint32_t>(one.size())),
                                             Bytes{0x50, u8(0x90 | pick(16))}); // one write more
                for (const Bytes& c : one) section.insert(section.end(), c.begin(), c.end());
            }
            if (pick(3) == 0) bars.push_back(bar(8 + pick(120))); // something new now and then
            // A section heard again, twice over now and then.
            for (unsigned again = pick(3) + 1; again > 0; --again) {
                if (made++ == loopAt) v.loopHere();
                v.commands(section);
            }
        }
        if (loopAt >= made) v.loopHere();
        return v.finish();
    }

private:
    std::uint32_t x_;
};

} // namespace quorvel::songs
