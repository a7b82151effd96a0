// HuCard images: the player, converted images and what each track shows in; a raw
// ROM of 8 KiB banks (no copier header) that boots on a PC Engine or TurboGrafx-16,
// shows its tracks and plays them, chosen with the pad, out.
#pragma once

#include <string>
#include <vector>

#include "convert/bytes.h"
#include "convert/track_info.h"

namespace quorvel {

constexpr std::size_t kCardBankSize = 0x2000;
constexpr std::size_t kMaxCardSize = 0x100000; // what a HuC6280 maps: 128 banks

// The card's own bank (hucard/, built with the player): its code, font and the
// table filled in below; the ROM's last bank.
extern const std::uint8_t kCardBank[kCardBankSize];

// Where the card's bank holds its table: the track count, 8 bytes a track from
// kCardTracks (length in frames, 3 bytes; 1 when it fades after that; the address of
// its strings), the strings from kCardTexts.
constexpr std::size_t kCardTable = 0x1000;
constexpr std::size_t kCardTracks = 0x1010;
constexpr std::size_t kCardTexts = 0x1110;
constexpr std::size_t kCardTextLength = 28; // characters a line shows
// The font in the card's bank: 8 bytes a glyph from ' ' to '~', bit 7 leftmost.
constexpr std::size_t kCardFont = 0x0C00;

// What the card shows of a track and how long it plays.
struct CardTrack {
    std::string title, game, author; // as the tag has them (UTF-8)
    std::uint32_t totalSamples = 0;  // the song, one pass of its loop included
    std::uint32_t loopSamples = 0;   // 0: it does not loop, and ends without a fade
};

// The track's texts from its tag: the English title (else the file's name, which
// the card's font can show), game and author.
CardTrack cardTrack(const TrackInfo& info, const std::string& inputPath);

// The ROM: the player's bank 0 and 1 as the HES holds them (bytes 0x20-0x3FFF of
// `player`, with the album table filled in when there is more than one image), the
// images from bank 2, and the card's bank last, the whole a power of two in size so
// that the card's bank is also seen as bank 0x7F. Throws ConversionError past 1 MiB.
Bytes makeHuCard(const Bytes& player, const std::vector<Bytes>& images, const std::vector<CardTrack>& tracks);

// Text as the card shows it: printable ASCII, anything else '?' (a UTF-8 sequence
// one '?'), at most kCardTextLength characters.
std::string cardText(const std::string& utf8);

} // namespace quorvel
