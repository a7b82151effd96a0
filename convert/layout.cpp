// Bank layout: the packed stream in; through the codec, the commands in 32 KiB banks
// of the bank image out, each bank closed by a bank-end marker and zero fill.
#include "convert/layout.h"

#include <typeinfo>

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

// Sends every byte through the codec's slots: commands with putCommand, operands with
// putOperand, the bank-end marker and fill with putCommand.
class SlotEmitter {
public:
    SlotEmitter(Codec& codec, const Bytes& image) : codec_(codec), image_(image) {}
    void command(const std::uint8_t* bytes, std::size_t operands)
    {
        codec_.putCommand(bytes[0]);
        for (std::size_t n = 1; n <= operands; ++n) codec_.putOperand(bytes[n]);
    }
    std::size_t size() const { return image_.size(); }
    void closeBank()
    {
        codec_.putCommand(kCmdBankEnd);
        while ((image_.size() & (kBankSize - 1)) != 0) codec_.putCommand(0x00);
    }
    void finish() { codec_.finish(); }

private:
    Codec& codec_;
    const Bytes& image_;
};

// The same bytes for a plain NullCodec, whose slots only append: commands stand
// back to back in the packed stream, so each run of them up to a bank end is
// appended in one copy.
class BlockEmitter {
public:
    BlockEmitter(NullCodec& codec, const Bytes& image) : codec_(codec), image_(image), size_(image.size()) {}
    void command(const std::uint8_t* bytes, std::size_t operands)
    {
        if (run_ == nullptr) run_ = bytes;
        size_ += 1 + operands;
    }
    std::size_t size() const { return size_; }
    void closeBank()
    {
        flush();
        codec_.putRepeated(kCmdBankEnd, 1);
        codec_.putRepeated(0x00, (kBankSize - (image_.size() & (kBankSize - 1))) & (kBankSize - 1));
        size_ = image_.size();
    }
    void finish()
    {
        flush();
        codec_.finish();
    }

private:
    // Appends the commands since the last flush: the image then has size_ bytes.
    void flush()
    {
        if (run_ != nullptr) codec_.putBlock(run_, size_ - image_.size());
        run_ = nullptr;
    }

    NullCodec& codec_;
    const Bytes& image_;
    std::size_t size_;                   // image size once the pending run is appended
    const std::uint8_t* run_ = nullptr;  // first pending command, if any
};

// A progress glyph is due at the first command whose position k gives k * 10 / K
// (unsigned 32-bit) above the glyphs printed so far. Where k * 10 cannot wrap, that
// quotient only grows with k, so no glyph can be due before a threshold and the
// division is skipped until then.
class ProgressSchedule {
public:
    explicit ProgressSchedule(std::uint32_t packedLength)
        : length_(packedLength), monotonic_(packedLength <= 0xFFFFFFFFu / 10)
    {
    }
    // The first position at which `printed` glyphs may no longer be enough.
    std::uint64_t nextCheck(std::uint32_t printed) const
    {
        return monotonic_ ? ((std::uint64_t{printed} + 1) * length_ + 9) / 10 : 0;
    }
    bool due(std::uint32_t k, std::uint32_t printed) const
    {
        return static_cast<std::uint32_t>(k * 10u) / length_ > printed;
    }

private:
    std::uint32_t length_;
    bool monotonic_;
};

template <class Emitter>
void layOut(ConversionJob& job, Emitter& out)
{
    const std::uint8_t* packed = job.packedStream.data();
    const std::uint32_t packedLength = job.packedLength;
    const std::uint32_t loopMark = job.loopMark;
    const OperandTable& operands = operandTable(job.shortReservedWrites);
    std::uint32_t printed = job.progressCount;
    std::uint32_t loopPosition = loopMark;
    const ProgressSchedule progress(packedLength);
    std::uint64_t checkAt = progress.nextCheck(printed);

    std::uint32_t k = job.headerSize;
    for (bool done = false; !done;) {
        if (k >= checkAt && progress.due(k, printed)) {
            ++printed;
            std::fputc(kProgressGlyph, job.console);
            checkAt = progress.nextCheck(printed);
        }
        if (k == loopMark) loopPosition = static_cast<std::uint32_t>(out.size());

        const Frame frame = k < packedLength ? frameCommand(packed, k + 1, packedLength, operands)
                                             : Frame{FrameStatus::incomplete, 0};
        if (frame.status == FrameStatus::illegalDataBlock) {
            throw ConversionError(formatMessage("Illegal command: 0x67 0x%02x\n", packed[k + 1]));
        }
        if (frame.status == FrameStatus::incomplete) {
            throw ConversionError(formatMessage(
                "Error: the packed stream ends inside the command at offset 0x%x\n", k));
        }
        out.command(packed + k, frame.operands);
        done = packed[k] == kCmdEndOfData;
        k += static_cast<std::uint32_t>(1 + frame.operands);
        if (done) out.finish();

        if ((out.size() & (kBankSize - 1)) > kLastCommandRoom) out.closeBank();
    }
    job.progressCount = printed;
    job.outputLoopPosition = loopPosition;
    job.layoutEnd = k;
}

} // namespace

void layoutBanks(ConversionJob& job)
{
    job.bankImage.reserve(maxImageSize(job.packedLength));
    Codec& codec = *job.codec;
    if (typeid(codec) == typeid(NullCodec)) {
        BlockEmitter out(static_cast<NullCodec&>(codec), job.bankImage);
        layOut(job, out);
    } else {
        SlotEmitter out(codec, job.bankImage);
        layOut(job, out);
    }
    job.codec.reset();
}

} // namespace quorvel
