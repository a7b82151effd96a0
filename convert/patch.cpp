// Header fix-ups: the laid-out bank image in; the finished image out, with its
// end-of-file, GD3 and loop offsets rewritten, the tail appended and whole banks.
#include "convert/patch.h"

#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/message.h"

namespace quorvel {

void patchHeader(ConversionJob& job)
{
    // The header is the packed stream's when the image is its pieces (the bank image
    // empty), or the bank image's when a codec made the image.
    const bool pieces = job.bankImage.empty();
    std::uint8_t* header = pieces ? job.packedStream.data() : job.bankImage.data();

    // The order matters: the end-of-file offset counts the command data only, the GD3
    // offset is moved by the length the image has once the tail is in.
    const auto commandEnd = static_cast<std::uint32_t>(job.imageSize);
    setLe32(header + kEofOffsetField, commandEnd - static_cast<std::uint32_t>(kEofOffsetField));

    const std::size_t tail = job.packedLength - job.layoutEnd;
    job.imageSize += tail;
    const auto tailEnd = static_cast<std::uint32_t>(job.imageSize);

    const std::uint32_t gd3 = getLe32(header + kGd3OffsetField);
    if (gd3 != 0) setLe32(header + kGd3OffsetField, gd3 + tailEnd - job.inputLength);

    if (job.loopMark > kLoopOffsetField) {
        setLe32(header + kLoopOffsetField, job.outputLoopPosition - static_cast<std::uint32_t>(kLoopOffsetField));
    }

    const std::size_t partial = job.imageSize & (kBankSize - 1);
    const std::size_t padding = partial != 0 ? kBankSize - partial : 0;
    job.imageSize += padding;
    if (pieces) {
        if (tail != 0) job.imagePieces.push_back({job.packedStream.data() + job.layoutEnd, tail, 0});
        if (padding != 0) job.imagePieces.push_back({nullptr, padding, 0x00});
    } else {
        appendBytes(job.bankImage, job.packedStream.data() + job.layoutEnd, tail);
        job.packedStream = Bytes();
        job.bankImage.resize(job.imageSize, 0x00);
        job.imagePieces = {{job.bankImage.data(), job.bankImage.size(), 0}};
    }

    for (; job.progressCount < 9; ++job.progressCount) std::fputs(job.glyph, job.console);
    std::fprintf(job.console, "%s\n", job.glyph);
    job.progressCount = 10;

    if (job.imageSize > kPlayableImageSize) {
        job.warnings.push_back(formatMessage(
            "Warning: the image is %u bytes; a HuC6280 player can map only the first %u (31 banks): -fit repacks it\n",
            static_cast<std::uint32_t>(job.imageSize), kPlayableImageSize));
    }
}

Bytes imageBytes(const ConversionJob& job)
{
    Bytes image;
    image.reserve(job.imageSize);
    for (const ImagePiece& piece : job.imagePieces) {
        if (piece.bytes != nullptr) {
            appendBytes(image, piece.bytes, piece.size);
        } else {
            image.resize(image.size() + piece.size, piece.fill);
        }
    }
    return image;
}

} // namespace quorvel
