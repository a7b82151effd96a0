// Loading: a VGM file, plain or gzip-compressed, in; the job's input image, input
// length and an empty packed stream out.
#pragma once

#include "convert/job.h"

namespace quorvel {

// Largest input the 32-bit offsets of a VGM file can describe.
constexpr std::uint64_t kMaxInputLength = 0xFFFFFFFFu;

// Reads job.inputPath. Throws ConversionError with the console line on failure.
void loadInputImage(ConversionJob& job);

// True when a file name is taken as compressed without looking inside: its last
// character is 'z' or 'Z'.
bool hasCompressedName(const std::string& path);

// Takes `image` as the job's input and allocates the packed stream beside it.
void adoptInputImage(ConversionJob& job, Bytes&& image);

} // namespace quorvel
