// What a music player shows of a song: a VGM image in; its GD3 tag (as UTF-8) and
// its sample counts out, as far as the file holds them whole.
#include "convert/track_info.h"

#include <array>

namespace quorvel {
namespace {

constexpr std::size_t kTotalSamplesField = 0x18;
constexpr std::size_t kGd3OffsetField = 0x14; // relative to itself
constexpr std::size_t kLoopOffsetField = 0x1C;
constexpr std::size_t kLoopSamplesField = 0x20;
constexpr std::size_t kGd3Head = 12;          // "Gd3 ", version, length

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c < 0x20 ? ' ' : c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string utf8FromUtf16(const std::uint8_t* text, std::size_t bytes)
{
    std::string out;
    const std::size_t units = bytes / 2;
    for (std::size_t n = 0; n < units; ++n) {
        const std::uint32_t u = getLe16(text + 2 * n);
        if (u >= 0xD800 && u < 0xDC00 && n + 1 < units) {
            const std::uint32_t low = getLe16(text + 2 * n + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++n;
                continue;
            }
        }
        appendUtf8(out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    return out;
}

TrackInfo readTrackInfo(const Bytes& image)
{
    TrackInfo info;
    const std::size_t size = image.size();
    if (size >= kLoopSamplesField + 4) {
        info.totalSamples = getLe32(image, kTotalSamplesField);
        if (getLe32(image, kLoopOffsetField) != 0) info.loopSamples = getLe32(image, kLoopSamplesField);
    }
    if (size < kGd3OffsetField + 4) return info;
    const std::uint32_t offset = getLe32(image, kGd3OffsetField);
    if (offset == 0 || offset > size - kGd3OffsetField) return info;
    const std::size_t tag = kGd3OffsetField + offset;
    if (kGd3Head > size - tag || image[tag] != 'G' || image[tag + 1] != 'd' || image[tag + 2] != '3' ||
        image[tag + 3] != ' ') {
        return info;
    }
    const std::size_t length = std::min<std::size_t>(getLe32(image, tag + 8), size - tag - kGd3Head);
    const std::uint8_t* text = image.data() + tag + kGd3Head;

    std::array<std::string*, 11> fields = {&info.title, &info.titleJapanese, &info.game, &info.gameJapanese,
                                           &info.system, &info.systemJapanese, &info.author, &info.authorJapanese,
                                           &info.date, &info.ripper, &info.notes};
    std::size_t at = 0;
    for (std::string* field : fields) {
        std::size_t end = at;
        while (end + 1 < length && getLe16(text + end) != 0) end += 2;
        *field = utf8FromUtf16(text + at, std::min(end, length) - at);
        if (end + 1 >= length) break; // no terminator: the tag ends here
        at = end + 2;
    }
    return info;
}

} // namespace quorvel
