// Bank layout: the packed stream in; the commands in 32 KiB banks, each closed by a
// bank-end marker and zero fill, out: through a codec of its own into the bank image,
// or for the plain NullCodec as pieces of the packed stream, copying nothing.
#include "convert/layout.h"

#include <algorithm>
#include <typeinfo>

#include "convert/commands.h"
#include "convert/message.h"

namespace quorvel {
namespace {

// A bank is closed once a command leaves one, two or three of its bytes.
constexpr std::uint32_t kLastCommandRoom = 0x7FFC;
// The longest command but a data block: 0x68 and its 11 operands.
constexpr std::uint32_t kLongestCommand = 12;

std::size_t maxImageSize(std::size_t packedLength)
{
    const std::size_t banks = packedLength / kLastCommandRoom + 2;
    return packedLength + 3 * banks + kBankSize;
}

// Sends every byte through the codec's slots: commands with putCommand, operands with
// putOperand, the bank-end marker and fill with putCommand.
class SlotEmitter {
public:
    static constexpr bool kTakesRuns = false;
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
// back to back in the packed stream, so the image is the header, each run of them up
// to a bank end as it stands there, and the markers and fill between (image pieces).
class PieceEmitter {
public:
    static constexpr bool kTakesRuns = true;
    explicit PieceEmitter(ConversionJob& job) : pieces_(job.imagePieces), size_(job.headerSize)
    {
        pieces_.clear();
        pieces_.push_back({job.packedStream.data(), job.headerSize, 0});
    }
    void command(const std::uint8_t* bytes, std::size_t operands) { run(bytes, 1 + operands); }
    // Whole commands, `size` bytes from `bytes`.
    void run(const std::uint8_t* bytes, std::size_t size)
    {
        if (run_ == nullptr) run_ = bytes;
        size_ += size;
    }
    std::size_t size() const { return size_; }
    void closeBank()
    {
        flush();
        pieces_.push_back({nullptr, 1, kCmdBankEnd});
        const std::size_t fill = (kBankSize - ((size_ + 1) & (kBankSize - 1))) & (kBankSize - 1);
        if (fill != 0) pieces_.push_back({nullptr, fill, 0x00});
        size_ += 1 + fill;
        flushed_ = size_;
    }
    void finish() { flush(); }

private:
    // The commands since the last flush as one piece: the image then has size_ bytes.
    void flush()
    {
        if (run_ != nullptr) pieces_.push_back({run_, size_ - flushed_, 0});
        run_ = nullptr;
        flushed_ = size_;
    }

    std::vector<ImagePiece>& pieces_;
    std::size_t size_;                   // image size with the pending run
    std::size_t flushed_ = size_;        // image size in pieces
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

// Writes into each REPLAY command of the packed stream the image offset of the
// stretch it plays: the stretch starts before the command, so its offset is known by
// the time the command is laid out.
class ReplayTargets {
public:
    explicit ReplayTargets(ConversionJob& job) : packed_(job.packedStream.data()), replays_(job.replays)
    {
        for (const Replay& r : replays_) starts_.push_back(r.target);
        std::sort(starts_.begin(), starts_.end());
        starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
        offsets_.resize(starts_.size());
    }
    // The next packed position where something is to be done.
    std::uint64_t next() const
    {
        std::uint64_t at = ~std::uint64_t{0};
        if (start_ < starts_.size()) at = starts_[start_];
        if (replay_ < replays_.size()) at = std::min<std::uint64_t>(at, replays_[replay_].at);
        return at;
    }
    // The command at packed position k is laid out at image offset `offset`.
    void at(std::uint32_t k, std::size_t offset)
    {
        if (start_ < starts_.size() && starts_[start_] == k) offsets_[start_++] = static_cast<std::uint32_t>(offset);
        if (replay_ < replays_.size() && replays_[replay_].at == k) {
            const auto found = std::lower_bound(starts_.begin(), starts_.begin() + static_cast<long>(start_),
                                                replays_[replay_].target);
            const std::uint32_t target = offsets_[static_cast<std::size_t>(found - starts_.begin())];
            std::uint8_t* command = packed_ + k;
            command[1] = static_cast<std::uint8_t>(target);
            command[2] = static_cast<std::uint8_t>(target >> 8);
            command[3] = static_cast<std::uint8_t>((command[3] & 0xF0) | ((target >> 16) & 0x0F));
            ++replay_;
        }
    }

private:
    std::uint8_t* packed_;
    const std::vector<Replay>& replays_;
    std::vector<std::uint32_t> starts_;  // the stretches' packed positions, in order
    std::vector<std::uint32_t> offsets_; // and their image offsets, once laid out
    std::size_t start_ = 0, replay_ = 0;
};

template <class Emitter>
void layOut(ConversionJob& job, Emitter& out)
{
    const std::uint8_t* packed = job.packedStream.data();
    ReplayTargets replays(job);
    const std::uint32_t packedLength = job.packedLength;
    const std::uint32_t loopMark = job.loopMark;
    const OperandTable& operands = operandTable(job.shortReservedWrites);
    std::uint32_t printed = job.progressCount;
    std::uint32_t loopPosition = loopMark;
    const ProgressSchedule progress(packedLength);
    std::uint64_t checkAt = progress.nextCheck(printed);

    job.pcmBlocks.clear();
    std::uint32_t k = job.headerSize;
    for (bool done = false; !done;) {
        if constexpr (Emitter::kTakesRuns) {
            // The commands that end before the bank is full, before the loop command
            // and before the next glyph is due can need nothing but their length:
            // they are taken as one run, framed by the table alone. Data blocks and
            // the 0x66 go the full way.
            const std::uint64_t room = kLastCommandRoom - (out.size() & (kBankSize - 1));
            const std::uint64_t loopBound = loopMark >= k ? loopMark : ~std::uint64_t{0};
            const std::uint64_t bound =
                std::min({k + room, checkAt, loopBound, replays.next(), std::uint64_t{packedLength}});
            const std::uint64_t limit = bound > kLongestCommand ? bound - kLongestCommand : 0;
            const std::uint32_t from = k;
            while (k < limit && packed[k] != kCmdEndOfData && packed[k] != kCmdDataBlock) k += 1u + operands[packed[k]];
            if (k != from) out.run(packed + from, k - from);
        }
        if (k >= checkAt && progress.due(k, printed)) {
            ++printed;
            std::fputs(job.glyph, job.console);
            checkAt = progress.nextCheck(printed);
        }
        if (k == loopMark) loopPosition = static_cast<std::uint32_t>(out.size());
        if (k == replays.next()) replays.at(k, out.size());

        const Frame frame = k < packedLength ? frameCommand(packed, k + 1, packedLength, operands)
                                             : Frame{FrameStatus::incomplete, 0};
        if (frame.status == FrameStatus::illegalDataBlock) {
            throw ConversionError(formatMessage("Illegal command: 0x67 0x%02x\n", packed[k + 1]));
        }
        if (frame.status == FrameStatus::incomplete) {
            throw ConversionError(formatMessage(
                "Error: the packed stream ends inside the command at offset 0x%x\n", k));
        }
        if (packed[k] == kCmdDataBlock && packed[k + 2] == kPcmBlockType) {
            job.pcmBlocks.push_back(static_cast<std::uint32_t>(out.size()));
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
    Codec& codec = *job.codec;
    if (typeid(codec) == typeid(NullCodec)) {
        PieceEmitter out(job);
        layOut(job, out);
        job.imageSize = out.size();
        job.bankImage = Bytes(); // the header is the packed stream's
    } else {
        job.bankImage.reserve(maxImageSize(job.packedLength));
        SlotEmitter out(codec, job.bankImage);
        layOut(job, out);
        job.imagePieces = {{job.bankImage.data(), job.bankImage.size(), 0}};
        job.imageSize = job.bankImage.size();
    }
    job.codec.reset();
}

} // namespace quorvel
