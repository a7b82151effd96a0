// VGM command framing: a command byte in, the number of bytes that follow it out.
// Compaction and bank layout frame with this one table, so both agree on every command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/bytes.h"

namespace quorvel {

constexpr std::uint8_t kCmdYm2612Port0 = 0x52;
constexpr std::uint8_t kCmdEndOfData = 0x66;
constexpr std::uint8_t kCmdDataBlock = 0x67;
constexpr std::uint8_t kPcmBlockType = 0x00; // data block type of the YM2612's PCM
constexpr std::uint8_t kCmdBankEnd = 0x4B; // closes a 32 KiB bank of the output image

// Files older than VGM 1.60 give the reserved commands 0x40-0x4E one operand, later
// files two.
constexpr std::uint32_t kTwoByteReservedVersion = 0x160;

inline bool isShortWait(std::uint8_t c) { return (c & 0xF0) == 0x70; }
inline bool isPcmWait(std::uint8_t c) { return (c & 0xF0) == 0x80; }
// The samples short wait 0x7n waits: n + 1. A fold into 0x8n adds all of them.
inline unsigned shortWaitSamples(std::uint8_t c) { return (c & 0x0Fu) + 1; }

// Operand bytes that follow the command byte at buffer[pos - 1].
enum class FrameStatus { ok, incomplete, illegalDataBlock };

struct Frame {
    FrameStatus status;
    std::size_t operands; // bytes after the command byte; valid when status is ok
};

namespace detail {

constexpr std::array<std::uint8_t, 256> makeOperandTable(bool shortReservedWrites)
{
    std::array<std::uint8_t, 256> t{}; // undefined bytes are one-byte commands
    for (int c = 0x30; c <= 0x3F; ++c) t[c] = 1; // second PSG and reserved one-operand writes
    for (int c = 0x40; c <= 0x4E; ++c) t[c] = shortReservedWrites ? 1 : 2; // reserved
    t[0x4F] = 1;                                 // Game Gear stereo
    t[0x50] = 1;                                 // SN76489 write
    for (int c = 0x51; c <= 0x5F; ++c) t[c] = 2; // register writes of the FM chips
    t[0x61] = 2;                                 // wait n samples
    t[0x68] = 11;                                // PCM RAM write
    t[0x90] = 4;                                 // DAC stream control: setup
    t[0x91] = 4;                                 //   set data
    t[0x92] = 5;                                 //   set frequency
    t[0x93] = 10;                                //   start
    t[0x94] = 1;                                 //   stop
    t[0x95] = 4;                                 //   fast start
    for (int c = 0xA0; c <= 0xBF; ++c) t[c] = 2; // register writes, second-chip YM2413 etc.
    for (int c = 0xC0; c <= 0xDF; ++c) t[c] = 3; // memory and port writes
    for (int c = 0xE0; c <= 0xFF; ++c) t[c] = 4; // PCM seek and reserved four-operand writes
    return t;
}

inline constexpr std::array<std::uint8_t, 256> kOperands = makeOperandTable(false);
inline constexpr std::array<std::uint8_t, 256> kOperandsBefore160 = makeOperandTable(true);
inline constexpr std::size_t kDataBlockHead = 6; // 0x66, type, 32-bit size

} // namespace detail

// The operand lengths for a file: commands 0x40-0x4E take one operand before VGM 1.60.
using OperandTable = std::array<std::uint8_t, 256>;
inline const OperandTable& operandTable(bool shortReservedWrites)
{
    return shortReservedWrites ? detail::kOperandsBefore160 : detail::kOperands;
}

// The data length of the data block (0x67 0x66 type size32) at `command`: its size
// with bit 31 (the second-chip flag) cleared. The caller has framed the block's head.
inline std::uint32_t dataBlockSize(const std::uint8_t* command) { return getLe32(command + 3) & 0x7FFFFFFFu; }

// Frames the command whose byte stands at buffer[pos - 1], looking no further than
// `end`. A data block (0x67) must continue with 0x66, a type byte, a 32-bit size and
// the data, whose length is the size with bit 31 (the second-chip flag) cleared.
inline Frame frameCommand(const std::uint8_t* buffer, std::size_t pos, std::size_t end,
                          const OperandTable& operands)
{
    const std::uint8_t c = buffer[pos - 1];
    const std::size_t room = end - pos;
    if (c == kCmdDataBlock) {
        if (room == 0) return {FrameStatus::incomplete, 0};
        if (buffer[pos] != kCmdEndOfData) return {FrameStatus::illegalDataBlock, 0};
        if (room < detail::kDataBlockHead) return {FrameStatus::incomplete, 0};
        const std::size_t data = dataBlockSize(buffer + pos - 1);
        if (data > room - detail::kDataBlockHead) return {FrameStatus::incomplete, 0};
        return {FrameStatus::ok, detail::kDataBlockHead + data};
    }
    if (operands[c] > room) return {FrameStatus::incomplete, 0};
    return {FrameStatus::ok, operands[c]};
}


} // namespace quorvel
