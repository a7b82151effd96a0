// One copy of each sample across an album: the packed stream and the samples of the
// songs laid out before it in; the same stream out with each YM2612 data block whose
// samples one of them holds replaced by a SHARED_BLOCK that plays them from there.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "convert/job.h"

namespace quorvel {

// SHARED_BLOCK: 0x67 0x66 0x3F, size 8, then where the samples stand (an offset from
// the album's first image, 32 bits) and their length (32 bits). The player takes it
// only in an image whose header byte 0x08 is kRepeatsMark, into its data bank as the
// block it stands for; anywhere else it is a data block of no chip, skipped.
constexpr std::uint8_t kSharedBlockType = 0x3F;
constexpr std::uint32_t kSharedBlockLength = 15;
// Smaller blocks are kept as they are: a reference saves little on them.
constexpr std::uint32_t kMinSharedBlock = 64;

// The YM2612 PCM blocks (data block type 0x00) of the songs laid out so far.
class SampleLibrary {
public:
    // Adds the blocks of a converted image that stands `start` bytes into the album's
    // images: `blocks` lists where each such data block command stands in the image.
    void add(const Bytes& image, std::size_t start, const std::vector<std::uint32_t>& blocks);
    // Where `size` bytes equal to `data` stand inside one block (an offset from the
    // album's first image), or kNotHeld.
    static constexpr std::uint32_t kNotHeld = 0xFFFFFFFFu;
    std::uint32_t find(const std::uint8_t* data, std::size_t size) const;

private:
    struct Block {
        std::uint32_t at;   // where its data stands from the album's first image
        std::uint32_t size;
        std::size_t pool;   // where its data starts in pool_
    };
    std::vector<std::uint8_t> pool_; // every block's data, one after another
    std::vector<Block> blocks_;      // in pool order
    // The pool places of each block's whole windows of kWindow bytes, every kWindow
    // bytes, by the windows' hash (at most kCandidates each: silence is alike).
    std::unordered_map<std::size_t, std::vector<std::size_t>> windows_;
};

struct SamplesReport {
    std::uint32_t shared = 0;    // data blocks now SHARED_BLOCKs
};

// Rewrites job.packedStream (its length and loop mark with it): each YM2612 data
// block of at least kMinSharedBlock bytes that `library` holds becomes a
// SHARED_BLOCK, and the image is marked when any did. Data blocks of type
// kSharedBlockType the song had of its own are dropped: they belong to no chip. With
// no library only those are dropped. Leaves the job as it was when neither is met.
void shareSamples(ConversionJob& job, const SampleLibrary* library, SamplesReport& report);

} // namespace quorvel
