// VGM command framing: how many bytes follow a command byte. Compaction and bank
// layout frame the stream with this one table, so both agree on every command start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

constexpr std::uint8_t kCmdYm2612Port0 = 0x52;
constexpr std::uint8_t kCmdEndOfData = 0x66;
constexpr std::uint8_t kCmdDataBlock = 0x67;
constexpr std::uint8_t kCmdBankEnd = 0x4B; // closes a 32 KiB bank of the output image

// Files older than VGM 1.60 give the reserved commands 0x40-0x4E one operand, later
// files two.
constexpr std::uint32_t kTwoByteReservedVersion = 0x160;

inline bool isShortWait(std::uint8_t c) { return (c & 0xF0) == 0x70; }
inline bool isPcmWait(std::uint8_t c) { return (c & 0xF0) == 0x80; }

// Operand bytes that follow the command byte at buffer[pos - 1].
enum class FrameStatus { ok, incomplete, illegalDataBlock };

struct Frame {
    FrameStatus status;
    std::size_t operands; // bytes after the command byte; valid when status is ok
};

// Frames the command whose byte stands at buffer[pos - 1], looking no further than
// `end`. A data block (0x67) must continue with 0x66, a type byte, a 32-bit size and
// the data, whose length is the size with bit 31 (the second-chip flag) cleared.
Frame frameCommand(const std::uint8_t* buffer, std::size_t pos, std::size_t end,
                   bool shortReservedWrites);

} // namespace quorvel
