// Header fix-ups: the laid-out bank image in; the finished image out, with its
// end-of-file, GD3 and loop offsets rewritten, the tail appended and whole banks.
#include "convert/patch.h"

#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/message.h"

namespace quorvel {

void patchHeader(ConversionJob& job)
{
    Bytes& image = job.bankImage;

    // The order matters: the end-of-file offset counts the command data only, the GD3
    // offset is moved by the length the image has once the tail is in.
    const auto commandEnd = static_cast<std::uint32_t>(image.size());
    setLe32(image, kEofOffsetField, commandEnd - static_cast<std::uint32_t>(kEofOffsetField));

    appendBytes(image, job.packedStream.data() + job.layoutEnd, job.packedLength - job.layoutEnd);
    job.packedStream = Bytes();
    const auto tailEnd = static_cast<std::uint32_t>(image.size());

    const std::uint32_t gd3 = getLe32(image, kGd3OffsetField);
    if (gd3 != 0) setLe32(image, kGd3OffsetField, gd3 + tailEnd - job.inputLength);

    if (job.loopMark > kLoopOffsetField) {
        setLe32(image, kLoopOffsetField,
                job.outputLoopPosition - static_cast<std::uint32_t>(kLoopOffsetField));
    }

    const std::size_t partial = image.size() & (kBankSize - 1);
    if (partial != 0) image.resize(image.size() + (kBankSize - partial), 0x00);

    for (; job.progressCount < 9; ++job.progressCount) std::fputc(kProgressGlyph, job.console);
    std::fprintf(job.console, "%c\n", kProgressGlyph);
    job.progressCount = 10;

    if (image.size() > kPlayableImageSize) {
        job.warnings.push_back(formatMessage(
            "Warning: the image is %u bytes; a HuC6280 player can map only the first %u (31 banks)\n",
            static_cast<std::uint32_t>(image.size()), kPlayableImageSize));
    }
}

} // namespace quorvel
