// Bank layout: the packed stream in; through the codec, the commands in 32 KiB banks
// of the bank image out, each bank closed by a bank-end marker and zero fill.
#pragma once

#include "convert/job.h"

namespace quorvel {

constexpr std::uint32_t kBankSize = 0x8000;

// Writes the commands from headerSize up to and including the 0x66; records the output
// loop position and prints up to nine progress glyphs. Deletes the codec.
void layoutBanks(ConversionJob& job);

} // namespace quorvel
