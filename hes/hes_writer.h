// HES container: the finished bank image in; the output file out, either the HES
// header, the player image and the bank image, or with "-raw" the bank image alone.
#pragma once

#include <array>
#include <cstdint>

#include "convert/job.h"

namespace quorvel {

constexpr char kPlayerImageName[] = "drovan_huc6280.bin";
constexpr std::size_t kHesHeaderSize = 0x20;
constexpr std::size_t kPlayerImageEnd = 0x4000; // player bytes 0x20-0x3FFF are used

std::array<std::uint8_t, kHesHeaderSize> makeHesHeader(std::uint32_t imageSize);

// Writes job.bankImage to job.outputPath and prints "Done!". Throws ConversionError.
void writeHesFile(ConversionJob& job);

} // namespace quorvel
