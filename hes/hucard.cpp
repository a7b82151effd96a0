// HuCard images: the player, converted images and what each track shows in; a raw
// ROM of 8 KiB banks that boots on a PC Engine and plays them out.
#include "hes/hucard.h"

#include "convert/job.h"
#include "convert/layout.h"
#include "convert/message.h"
#include "hes/album.h"
#include "hes/hes_writer.h"
#include "hes/playlist.h"

namespace quorvel {
namespace {

// The console's frames, as the card counts them: 263 lines of 1365 clocks at
// 21477270 Hz, 59.826 a second.
constexpr std::uint64_t kFrameClock = 21477270;
constexpr std::uint64_t kClocksPerFrame = 1365 * 263;
constexpr std::uint16_t kCardAddress = 0xC000; // where the card's bank is seen

// mm:ss of `samples` at 44.1 kHz (as the time played shows), or nothing when unknown.
std::string lengthText(std::uint32_t samples)
{
    if (samples == 0) return std::string();
    const std::uint32_t seconds = (samples + 22050) / 44100;
    return formatMessage("%02u:%02u", seconds / 60 > 99 ? 99 : seconds / 60, seconds % 60);
}

} // namespace

std::string cardText(const std::string& utf8)
{
    std::string out;
    for (std::size_t n = 0; n < utf8.size() && out.size() < kCardTextLength; ++n) {
        const auto c = static_cast<unsigned char>(utf8[n]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c < 0x80 || c >= 0xC0) { // a control character, or a sequence's first byte
            out += '?';
        }
    }
    return out;
}

CardTrack cardTrack(const TrackInfo& info, const std::string& inputPath)
{
    CardTrack track;
    std::string name = fileName(inputPath);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) name.resize(dot);
    track.title = info.title.empty() ? name : info.title;
    track.game = info.game;
    track.author = info.author;
    track.totalSamples = info.totalSamples;
    track.loopSamples = info.loopSamples <= info.totalSamples ? info.loopSamples : 0;
    return track;
}

Bytes makeHuCard(const Bytes& player, const std::vector<Bytes>& images, const std::vector<CardTrack>& tracks)
{
    std::size_t used = kPlayerImageEnd + kCardBankSize;
    for (const Bytes& image : images) used += image.size();
    std::size_t size = 0x8000;
    while (size < used) size *= 2;
    if (size > kMaxCardSize || tracks.size() > kAlbumMaxSongs) {
        throw ConversionError(formatMessage(
            "Error: the HuCard image would be %zu bytes, over the 1 MiB a HuC6280 maps: -fit repacks the song\n",
            used));
    }
    Bytes rom(size, 0x00);
    std::copy(player.begin(), player.end(), rom.begin() + static_cast<long>(kHesHeaderSize));
    if (images.size() > 1) fillAlbumTable(rom.data() + kAlbumTableOffset, images);
    std::size_t at = kPlayerImageEnd;
    for (const Bytes& image : images) {
        std::copy(image.begin(), image.end(), rom.begin() + static_cast<long>(at));
        at += image.size();
    }

    std::uint8_t* card = rom.data() + size - kCardBankSize;
    std::copy(kCardBank, kCardBank + kCardBankSize, card);
    card[kCardTable] = static_cast<std::uint8_t>(tracks.size());
    std::size_t text = kCardTexts;
    for (std::size_t n = 0; n < tracks.size(); ++n) {
        const CardTrack& t = tracks[n];
        std::uint8_t* entry = card + kCardTracks + 8 * n;
        constexpr std::uint64_t kPer = 44100 * kClocksPerFrame; // a frame in samples x clock
        const std::uint64_t frames = (std::uint64_t{t.totalSamples} * kFrameClock + kPer - 1) / kPer;
        entry[0] = static_cast<std::uint8_t>(frames);
        entry[1] = static_cast<std::uint8_t>(frames >> 8);
        entry[2] = static_cast<std::uint8_t>(frames >> 16);
        entry[3] = t.loopSamples != 0 ? 1 : 0;
        entry[4] = static_cast<std::uint8_t>(kCardAddress + text);
        entry[5] = static_cast<std::uint8_t>((kCardAddress + text) >> 8);
        for (const std::string& line : {cardText(t.title), cardText(t.game), cardText(t.author), lengthText(t.totalSamples)}) {
            std::copy(line.begin(), line.end(), card + text);
            text += line.size() + 1; // and its NUL
        }
    }
    return rom;
}

} // namespace quorvel
