// One copy of each sample across an album: the packed stream and the earlier songs'
// samples in; the same stream out with the blocks they hold played from there.
#include "convert/samples.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "convert/commands.h"
#include "convert/compact.h"
#include "convert/repeats.h"

namespace quorvel {
namespace {

// A block is found by its windows: any stretch of 2 x kWindow - 1 bytes or more of a
// block holds one of that block's windows whole, kWindow bytes on from a place that
// is a multiple of kWindow.
constexpr std::size_t kWindow = 32;
constexpr std::size_t kCandidates = 16;
static_assert(kMinSharedBlock >= 2 * kWindow - 1, "a shared block holds a whole window");

constexpr std::size_t kBlockHead = 1 + detail::kDataBlockHead; // 0x67 0x66 type size32

std::size_t windowHash(const std::uint8_t* at)
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(at), kWindow));
}

} // namespace

void SampleLibrary::add(const Bytes& image, std::size_t start, const std::vector<std::uint32_t>& blocks)
{
    for (const std::uint32_t at : blocks) {
        if (at + kBlockHead > image.size() || image[at] != kCmdDataBlock || image[at + 2] != kPcmBlockType) continue;
        const std::uint32_t size = dataBlockSize(image.data() + at);
        if (size > image.size() - at - kBlockHead) continue;
        const Block block{static_cast<std::uint32_t>(start + at + kBlockHead), size, pool_.size()};
        pool_.insert(pool_.end(), image.begin() + at + kBlockHead, image.begin() + at + kBlockHead + size);
        for (std::size_t w = 0; w + kWindow <= size; w += kWindow) {
            std::vector<std::size_t>& places = windows_[windowHash(pool_.data() + block.pool + w)];
            if (places.size() < kCandidates) places.push_back(block.pool + w);
        }
        blocks_.push_back(block);
    }
}

std::uint32_t SampleLibrary::find(const std::uint8_t* data, std::size_t size) const
{
    if (size < 2 * kWindow - 1) return kNotHeld;
    for (std::size_t i = 0; i < kWindow; ++i) {
        const auto places = windows_.find(windowHash(data + i));
        if (places == windows_.end()) continue;
        for (const std::size_t place : places->second) {
            if (place < i) continue;
            const std::size_t start = place - i;
            // The block that holds the window; the stretch must lie in it whole.
            const auto block = std::prev(std::upper_bound(blocks_.begin(), blocks_.end(), place,
                                                          [](std::size_t p, const Block& b) { return p < b.pool; }));
            if (start < block->pool || start + size > block->pool + block->size) continue;
            if (std::memcmp(pool_.data() + start, data, size) == 0) {
                return static_cast<std::uint32_t>(block->at + (start - block->pool));
            }
        }
    }
    return kNotHeld;
}

void shareSamples(ConversionJob& job, const SampleLibrary* library, SamplesReport& report)
{
    report = SamplesReport{};
    const Bytes& packed = job.packedStream;
    const OperandTable& operands = operandTable(job.shortReservedWrites);

    // What changes: each data block to share or drop, with where its samples stand
    // (kNotHeld: dropped).
    struct Change {
        std::uint32_t at, length, target;
    };
    std::vector<Change> changes;
    std::uint32_t end = 0;
    for (std::uint32_t k = job.headerSize; end == 0;) {
        if (k >= job.packedLength) return;
        const Frame frame = frameCommand(packed.data(), k + 1, job.packedLength, operands);
        if (frame.status != FrameStatus::ok) return;
        const auto length = static_cast<std::uint32_t>(1 + frame.operands);
        if (packed[k] == kCmdDataBlock) {
            const std::uint8_t type = packed[k + 2];
            const std::uint32_t size = dataBlockSize(packed.data() + k);
            if (type == kSharedBlockType) {
                changes.push_back({k, length, SampleLibrary::kNotHeld});
            } else if (type == kPcmBlockType && library != nullptr && size >= kMinSharedBlock) {
                const std::uint32_t target = library->find(packed.data() + k + kBlockHead, size);
                if (target != SampleLibrary::kNotHeld) {
                    changes.push_back({k, length, target});
                    ++report.shared;
                }
            }
        }
        if (packed[k] == kCmdEndOfData) end = k + length;
        k += length;
    }
    if (changes.empty()) return;

    Bytes out;
    out.reserve(job.packedLength);
    appendBytes(out, packed.data(), job.headerSize);
    if (report.shared > 0) out[kVersionOffset] = kRepeatsMark;
    // The loop mark moves with the command it marks (past a dropped block, to the
    // command after it); a mark that is no command's stays as it is.
    std::uint32_t from = job.headerSize, newLoop = job.loopMark;
    for (const Change& change : changes) {
        if (job.loopMark >= from && job.loopMark <= change.at) {
            newLoop = static_cast<std::uint32_t>(out.size() + job.loopMark - from);
        }
        appendBytes(out, packed.data() + from, change.at - from);
        if (change.target != SampleLibrary::kNotHeld) {
            std::uint8_t shared[kSharedBlockLength] = {kCmdDataBlock, kCmdEndOfData, kSharedBlockType, 8, 0, 0, 0};
            setLe32(shared + kBlockHead, change.target);
            setLe32(shared + kBlockHead + 4, dataBlockSize(packed.data() + change.at));
            appendBytes(out, shared, sizeof shared);
        }
        from = change.at + change.length;
    }
    if (job.loopMark >= from && job.loopMark < end) {
        newLoop = static_cast<std::uint32_t>(out.size() + job.loopMark - from);
    }
    appendBytes(out, packed.data() + from, job.packedLength - from); // on to the tail as it stands
    job.loopMark = newLoop;
    job.packedLength = static_cast<std::uint32_t>(out.size());
    job.packedStream = std::move(out);
}

} // namespace quorvel
