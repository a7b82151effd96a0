// Bank layout: the packed stream in; through the codec, the commands in 32 KiB banks
// of the bank image out, each bank closed by a bank-end marker and zero fill.
#include "convert/layout.h"

#include "convert/commands.h"
#include "convert/message.h"

namespace quorvel {
namespace {

// A bank is closed once a command leaves one, two or three of its bytes.
constexpr std::uint32_t kLastCommandRoom = 0x7FFC;

std::size_t maxImageSize(std::size_t packedLength)
{
    const std::size_t banks = packedLength / kLastCommandRoom + 2;
    return packedLength + 3 * banks + kBankSize;
}

} // namespace

void layoutBanks(ConversionJob& job)
{
    const std::uint8_t* packed = job.packedStream.data();
    const std::uint32_t packedLength = job.packedLength;
    Codec& codec = *job.codec;
    Bytes& image = job.bankImage;
    image.reserve(maxImageSize(packedLength));

    job.outputLoopPosition = job.loopMark;
    std::uint32_t k = job.headerSize;
    for (bool done = false; !done;) {
        const std::uint32_t share = static_cast<std::uint32_t>(k * 10u) / packedLength;
        if (share > job.progressCount) {
            ++job.progressCount;
            std::fputc(kProgressGlyph, job.console);
        }
        if (k == job.loopMark) job.outputLoopPosition = static_cast<std::uint32_t>(image.size());

        const Frame frame =
            k < packedLength ? frameCommand(packed, k + 1, packedLength, job.shortReservedWrites)
                             : Frame{FrameStatus::incomplete, 0};
        if (frame.status == FrameStatus::illegalDataBlock) {
            throw ConversionError(formatMessage("Illegal command: 0x67 0x%02x\n", packed[k + 1]));
        }
        if (frame.status == FrameStatus::incomplete) {
            throw ConversionError(formatMessage(
                "Error: the packed stream ends inside the command at offset 0x%x\n", k));
        }
        const std::uint8_t c = packed[k++];
        codec.putCommand(c);
        for (std::size_t n = 0; n < frame.operands; ++n) codec.putOperand(packed[k++]);
        if (c == kCmdEndOfData) {
            codec.finish();
            done = true;
        }

        if ((image.size() & (kBankSize - 1)) > kLastCommandRoom) {
            codec.putCommand(kCmdBankEnd);
            while ((image.size() & (kBankSize - 1)) != 0) codec.putCommand(0x00);
        }
    }
    job.layoutEnd = k;
    job.codec.reset();
}

} // namespace quorvel
