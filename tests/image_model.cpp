// A model of the player reading a converted image: bank ends, REPLAY and STRETCH_END,
// data blocks into the data bank (once each, the loop notwithstanding), shared blocks.
#include "tests/image_model.h"

#include <algorithm>

#include "convert/commands.h"
#include "convert/compact.h"
#include "convert/repeats.h"
#include "convert/samples.h"

namespace quorvel::test {

namespace {
constexpr std::size_t kBank = 0x8000;
}

Played play(const Bytes& image, int passes, const Bytes* album)
{
    Played out;
    const bool marked = image[kVersionOffset] == kRepeatsMark;
    const OperandTable& operands = operandTable(false);
    const std::uint32_t loopField = getLe32(image, 0x1C);
    struct Frame {
        std::size_t back;
        std::uint32_t left;
        std::size_t bank;
    };
    std::vector<Frame> frames;
    std::size_t lastBlock = 0; // where the last block taken stands
    std::size_t i = computeHeaderSize(image);
    for (int pass = 0; pass < passes;) {
        if (i >= image.size()) {
            out.fault = "read past the image at " + std::to_string(i);
            return out;
        }
        const std::uint8_t c = image[i];
        if (c == kCmdBankEnd) { // on to the next bank unless already at its start
            i = (i + 1) % kBank == 0 ? i + 1 : (i / kBank + 1) * kBank;
            continue;
        }
        if (marked && c == kCmdReplay) {
            if (frames.size() == kMaxReplayDepth) {
                out.fault = "too deep at " + std::to_string(i);
                return out;
            }
            const std::uint32_t target = image[i + 1] | image[i + 2] << 8 | (image[i + 3] & 0x0F) << 16;
            frames.push_back({i + 5, static_cast<std::uint32_t>((image[i + 3] >> 4) << 8 | image[i + 4]), target / kBank});
            out.deepest = std::max(out.deepest, static_cast<unsigned>(frames.size()));
            i = target;
            continue;
        }
        if (marked && c == kCmdStretchEnd) {
            ++i;
            if (!frames.empty() && --frames.back().left == 0) {
                if (i / kBank != frames.back().bank) ++out.acrossBanks;
                i = frames.back().back;
                frames.pop_back();
            }
            continue;
        }
        if (c == kCmdEndOfData) {
            if (!frames.empty()) {
                out.fault = "end of data inside a stretch at " + std::to_string(i);
                return out;
            }
            ++pass;
            if (loopField == 0) break;
            i = loopField + 0x1Cu;
            continue;
        }
        const auto frame = frameCommand(image.data(), i + 1, image.size(), operands);
        if (frame.status != FrameStatus::ok) {
            out.fault = "no command at " + std::to_string(i);
            return out;
        }
        const std::size_t next = i + 1 + frame.operands;
        if (c == kCmdDataBlock) {
            const std::uint8_t type = image[i + 2];
            const bool shared = marked && type == kSharedBlockType;
            if ((type == kPcmBlockType || shared) && i > lastBlock) {
                lastBlock = i;
                const Bytes& from = shared && album != nullptr ? *album : image;
                std::size_t at = i + 7, size = dataBlockSize(image.data() + i);
                if (shared) {
                    at = getLe32(image, i + 7);
                    size = getLe32(image, i + 11);
                    ++out.shared;
                }
                if (at + size > from.size()) {
                    out.fault = "samples beyond the images at " + std::to_string(i);
                    return out;
                }
                out.blockStarts.push_back(out.dataBank.size());
                out.dataBank.insert(out.dataBank.end(), from.begin() + static_cast<long>(at),
                                    from.begin() + static_cast<long>(at + size));
            }
        } else {
            out.commands.emplace_back(image.begin() + static_cast<long>(i), image.begin() + static_cast<long>(next));
        }
        i = next;
    }
    return out;
}

} // namespace quorvel::test
