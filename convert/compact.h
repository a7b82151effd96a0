// Header preparation and compaction: the input image in; the header in the bank
// image, the compacted command stream in the packed stream, K and loopMark out.
#pragma once

#include "convert/job.h"

namespace quorvel {

// Input header offsets (relative fields are relative to their own offset).
constexpr std::size_t kVersionOffset = 0x08;
constexpr std::size_t kLoopOffsetField = 0x1C;
constexpr std::size_t kDataOffsetField = 0x34;
constexpr std::uint32_t kMinHeaderSize = 64;
constexpr std::uint8_t kRewrittenVersionByte = 0x52;

// Number of header bytes copied unchanged; the image must hold at least 64 bytes.
std::uint32_t computeHeaderSize(const Bytes& image);

// Sets headerSize and the loop target, prints "Converting <input>:", rewrites the
// version byte, copies the header into the bank image and the packed stream and
// creates the codec.
void prepareHeader(ConversionJob& job);

// Compacts the commands after the header; frees the input image.
void compactCommands(ConversionJob& job);

} // namespace quorvel
