// What a music player shows of a song: a VGM image in; its GD3 tag (as UTF-8) and
// its sample counts out, as far as the file holds them whole.
#pragma once

#include <cstdint>
#include <string>

#include "convert/bytes.h"

namespace quorvel {

struct TrackInfo {
    // The GD3 tag's strings in its order; empty where the tag has none.
    std::string title, titleJapanese, game, gameJapanese, system, systemJapanese;
    std::string author, authorJapanese, date, ripper, notes;
    std::uint32_t totalSamples = 0; // header 0x18: the whole song, one pass of the loop included
    std::uint32_t loopSamples = 0;  // header 0x20: the loop; 0 when the song does not loop
};

// Reads the header fields and the GD3 tag of a VGM image. A tag that is missing,
// cut short, of an odd length or without terminators yields what it holds whole;
// nothing outside the image is read.
TrackInfo readTrackInfo(const Bytes& image);

// UTF-16LE text (an odd last byte is dropped) as UTF-8; unpaired surrogates become
// U+FFFD and control characters spaces.
std::string utf8FromUtf16(const std::uint8_t* text, std::size_t bytes);

} // namespace quorvel
