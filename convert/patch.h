// Header fix-ups: the laid-out image in; the finished image out, with its end-of-file,
// GD3 and loop offsets rewritten, the tail appended and whole banks.
#pragma once

#include "convert/job.h"

namespace quorvel {

constexpr std::size_t kEofOffsetField = 0x04;
constexpr std::size_t kGd3OffsetField = 0x14;
// A player maps at most 1 MiB of ROM: 31 whole 32 KiB banks after its own 16 KiB.
constexpr std::uint32_t kPlayableImageSize = 0xF8000;

// Completes the image (its pieces and size) and the progress line.
void patchHeader(ConversionJob& job);

// The image's bytes in one buffer, from its pieces.
Bytes imageBytes(const ConversionJob& job);

} // namespace quorvel
