// Songs of one soundtrack that share their samples, as a game's songs do: a kit of
// drum sounds, and each song's data blocks (4-20 KiB) are kit blocks whole, one sound
// of a kit block, or sounds of the song's own, then random commands over them (0x8n
// with seeks, DAC streams from an offset and by block, YM2612 and SN76489 writes,
// waits) and a loop, now and then right at a block. Used by the tests of -fit's one
// copy of each sample.
#pragma once

#include <vector>

#include "tools/repeat_songs.h"

namespace quorvel::songs {

class KitSongs {
public:
    // A kit of `pairs` blocks, each two sounds one after the other.
    KitSongs(std::uint32_t seed, unsigned pairs) : maker_(seed)
    {
        for (unsigned n = 0; n < pairs; ++n) {
            const std::size_t first = 2000 + maker_.pick(8000), second = 2000 + maker_.pick(8000);
            Bytes block = drumSound(first, 60.0 + maker_.pick(400), 11025.0 + maker_.pick(11025));
            const Bytes other = drumSound(second, 300.0 + maker_.pick(2000), 22050.0);
            for (std::uint8_t& s : block) s = u8(s ^ (n & 1)); // no two kit blocks alike
            sounds_.push_back({block.size(), second});
            block.insert(block.end(), other.begin(), other.end());
            kit_.push_back(block);
        }
    }

    std::uint32_t pick(std::uint32_t n) { return maker_.pick(n); }

    // A song of `bars` bars over `blocks` data blocks.
    Bytes song(unsigned blocks, unsigned bars)
    {
        VgmBuilder v = ymStart();
        std::uint32_t bank = 0;
        std::vector<std::uint32_t> starts;
        const bool loopAtBlock = pick(2) == 0;
        const unsigned loopBlock = pick(blocks);
        for (unsigned b = 0; b < blocks; ++b) {
            const unsigned k = pick(static_cast<std::uint32_t>(kit_.size()));
            Bytes data;
            switch (pick(4)) {
            case 0: // a sound of the kit block alone: a stretch of it
                data = pick(2) ? Bytes(kit_[k].begin(), kit_[k].begin() + static_cast<long>(sounds_[k].first))
                               : Bytes(kit_[k].end() - static_cast<long>(sounds_[k].second), kit_[k].end());
                break;
            case 1: // of the song's own
                data.resize(4096 + pick(16000));
                for (std::uint8_t& s : data) s = u8(pick(256));
                break;
            default:
                data = kit_[k];
                break;
            }
            if (loopAtBlock && b == loopBlock) v.loopHere();
            if (pick(6) == 0) v.dataBlock(pick(2) ? 0x01 : 0x3F, Bytes(8 + pick(300), 0x55)); // no PCM of ours
            v.dataBlock(0x00, data);
            starts.push_back(bank);
            bank += static_cast<std::uint32_t>(data.size());
        }
        v.commands({0x52, 0x2B, 0x80, 0x90, 0x00, 0x02, 0x00, 0x2A, 0x91, 0x00, 0x00, 0x01, 0x00,
                    0x92, 0x00, 0x44, 0xAC, 0x00, 0x00});
        const unsigned loopBar = loopAtBlock ? bars : pick(bars);
        for (unsigned b = 0; b < bars; ++b) {
            if (b == loopBar) v.loopHere();
            for (const Bytes& c : maker_.bar(8 + pick(60))) {
                v.commands(c);
                switch (pick(16)) {
                case 0: { // a drum from the start of a block, some of it as 0x8n
                    const std::uint32_t at = starts[pick(static_cast<std::uint32_t>(starts.size()))];
                    v.commands({0xE0, le(at, 0), le(at, 1), le(at, 2), 0x00});
                    for (unsigned n = 1 + pick(40); n > 0; --n) v.commands({u8(0x80 + 1 + pick(3))});
                    break;
                }
                case 1: { // a block through the DAC stream, by its number
                    v.commands({0x95, 0x00, u8(pick(static_cast<std::uint32_t>(starts.size()))), 0x00, 0x00});
                    break;
                }
                case 2: { // from anywhere in the bank
                    const std::uint32_t at = pick(bank);
                    v.commands({0x93, 0x00, le(at, 0), le(at, 1), le(at, 2), 0x00, 0x01, u8(pick(200)), 0x01, 0x00, 0x00});
                    break;
                }
                default:
                    break;
                }
            }
        }
        return v.finish();
    }

private:
    RepeatingSong maker_;
    std::vector<Bytes> kit_;
    std::vector<std::pair<std::size_t, std::size_t>> sounds_; // each kit block's two sounds' lengths
};

} // namespace quorvel::songs
