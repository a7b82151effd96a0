// Loading: a VGM file, plain or gzip-compressed, in; the job's input image, input
// length and an empty packed stream out.
#pragma once

#include "convert/job.h"

namespace quorvel {

// Largest input the 32-bit offsets of a VGM file can describe.
constexpr std::uint64_t kMaxInputLength = 0xFFFFFFFFu;

// Reads job.inputPath. Throws ConversionError with the console line on failure, and
// when what it holds (inflated) does not begin with "Vgm ".
void loadInputImage(ConversionJob& job);

} // namespace quorvel
