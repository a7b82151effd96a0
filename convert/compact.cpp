// Header preparation and compaction: the input image in; the header in the bank
// image, the compacted command stream in the packed stream, K and loopMark out.
#include "convert/compact.h"

#include <cstring>

#include "convert/commands.h"
#include "convert/message.h"

namespace quorvel {
namespace {

constexpr std::uint8_t kRegTimerA = 0x25;
constexpr std::uint8_t kRegTimerB = 0x26;
constexpr std::uint8_t kRegTimerControl = 0x27; // bits 7-6: channel-3 mode
constexpr std::size_t kShortCopy = 16;          // more than any command but a data block

} // namespace

std::uint32_t computeHeaderSize(const Bytes& image)
{
    if (image[kVersionOffset] < 0x10) return kMinHeaderSize;
    const std::uint32_t size = getLe32(image, kDataOffsetField) + static_cast<std::uint32_t>(kDataOffsetField);
    return size < kMinHeaderSize ? kMinHeaderSize : size;
}

void prepareHeader(ConversionJob& job)
{
    Bytes& in = job.inputImage;
    if (in.size() < kMinHeaderSize) {
        throw ConversionError(formatMessage("Error: the input is %u bytes, shorter than a %u-byte VGM header\n",
                                            job.inputLength, kMinHeaderSize));
    }
    job.headerSize = computeHeaderSize(in);
    if (job.headerSize > in.size()) {
        throw ConversionError(formatMessage("Error: the input is %u bytes, shorter than its %u-byte header\n",
                                            job.inputLength, job.headerSize));
    }
    job.loopTarget = getLe32(in, kLoopOffsetField) + static_cast<std::uint32_t>(kLoopOffsetField);
    job.shortReservedWrites = getLe32(in, kVersionOffset) < kTwoByteReservedVersion;

    std::fprintf(job.console, "Converting %s:", job.inputPath.c_str());
    in[kVersionOffset] = kRewrittenVersionByte;
    job.bankImage.clear();
    appendBytes(job.bankImage, in.data(), job.headerSize);
    job.codec = std::make_unique<NullCodec>(job.bankImage);
}

// The packed stream is written over the input as it is read: it never gets ahead of
// it (commands are dropped or folded, never grown), but for the 0x66 that closes a
// stream without one, for which the buffer has a byte more.
void compactCommands(ConversionJob& job)
{
    Bytes& buffer = job.inputImage;
    const std::size_t end = buffer.size();
    buffer.reserve(end + 1);
    const std::uint8_t* in = buffer.data();
    std::uint8_t* out = buffer.data();
    const std::size_t loopTarget = job.loopTarget;
    const OperandTable& operands = operandTable(job.shortReservedWrites);

    std::size_t i = job.headerSize;
    std::size_t o = job.headerSize;
    std::size_t packedLoop = loopTarget;
    unsigned channel3Mode = 0;
    bool lastIsShortWait = false; // the command written last is a lone 0x7n at out[o - 1]

    for (;;) {
        if (i == loopTarget) {
            // The loop starts here: a wait written before it must not take in a PCM
            // write from after it, or every repeat would skip that write.
            packedLoop = o;
            lastIsShortWait = false;
        }
        const std::size_t start = i;
        Frame frame{FrameStatus::incomplete, 0};
        if (i < end) frame = frameCommand(in, i + 1, end, operands);
        if (frame.status == FrameStatus::illegalDataBlock) {
            throw ConversionError(formatMessage("Illegal command: 0x67 0x%02x\n", in[i + 1]));
        }
        if (frame.status == FrameStatus::incomplete) {
            // The input ends without an end-of-data command, or inside the operands of
            // its last command: drop that command and close the stream here.
            job.warnings.push_back(formatMessage(
                "Warning: no end-of-data command; the stream is closed at offset 0x%x\n",
                static_cast<unsigned>(start)));
            if (o == end) buffer.push_back(0x00); // within the capacity: the pointers stay
            out[o++] = kCmdEndOfData;
            break;
        }
        const std::uint8_t c = in[i++];

        if (c == kCmdEndOfData) {
            out[o++] = c;
            if (o != i) std::memmove(out + o, in + i, end - i); // the tail, normally the GD3 tag
            o += end - i;
            break;
        }

        if (c == kCmdYm2612Port0) {
            const std::uint8_t reg = in[i];
            const std::uint8_t value = in[i + 1];
            i += 2;
            if (reg == kRegTimerA || reg == kRegTimerB) continue;
            if (reg == kRegTimerControl) {
                const unsigned mode = value >> 6;
                if (mode == channel3Mode) continue;
                channel3Mode = mode;
            }
            out[o++] = c;
            out[o++] = reg;
            out[o++] = value;
            lastIsShortWait = false;
            continue;
        }

        if (isPcmWait(c)) {
            unsigned n = c & 0x0F;
            if (i < end && isShortWait(in[i])) {
                // Forward fold: take following short waits while the total fits in
                // 0x8n's 15 samples, but never the wait the loop starts at.
                while (i < end && isShortWait(in[i]) && n + shortWaitSamples(in[i]) < 16 && i != loopTarget) {
                    n += shortWaitSamples(in[i]);
                    ++i;
                }
                out[o++] = static_cast<std::uint8_t>(0x80 | n);
            } else if (lastIsShortWait && n + shortWaitSamples(out[o - 1]) < 16) {
                // Backward fold onto the short wait written just before.
                out[o - 1] = static_cast<std::uint8_t>(0x80 | (n + shortWaitSamples(out[o - 1])));
            } else {
                out[o++] = static_cast<std::uint8_t>(0x80 | n);
            }
            lastIsShortWait = false;
            continue;
        }

        out[o++] = c;
        if (o == i) {
            // Nothing dropped so far: the command is where it belongs.
        } else if (frame.operands <= kShortCopy && i - o >= kShortCopy && end - i >= kShortCopy) {
            // One fixed-size copy instead of a loop per command. Bytes past the operands
            // land where later output goes, before any byte still to be read.
            std::memcpy(out + o, in + i, kShortCopy);
        } else {
            std::memmove(out + o, in + i, frame.operands);
        }
        o += frame.operands;
        i += frame.operands;
        lastIsShortWait = isShortWait(c);
    }

    job.packedLength = static_cast<std::uint32_t>(o);
    job.loopMark = static_cast<std::uint32_t>(packedLoop);
    job.packedStream = std::move(buffer);
    job.inputImage = Bytes();
    job.progressCount = 0;
}

} // namespace quorvel
