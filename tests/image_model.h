// A model of the player reading a converted image: the image (and, for an album's
// track, the album's images) in; every command the chips get and the data bank the
// YM2612's PCM reads, through the loop as often as asked, out.
#pragma once

#include <string>
#include <vector>

#include "convert/bytes.h"

namespace quorvel::test {

struct Played {
    std::vector<Bytes> commands; // every command the chips get, in order (no data blocks)
    Bytes dataBank;              // the PCM blocks taken, one after another
    std::vector<std::size_t> blockStarts; // where each starts in it
    unsigned shared = 0;         // of them, blocks played from another place
    unsigned deepest = 0;        // REPLAYs one inside the other
    unsigned acrossBanks = 0;    // stretches played that run into a following bank
    std::string fault;           // where the image could not be read as the player reads it
};

// Reads `image` as the player does, through the end of data `passes` times. A shared
// block's samples are read from `album` (the album's images one after another; the
// image itself when none is given).
Played play(const Bytes& image, int passes, const Bytes* album = nullptr);

} // namespace quorvel::test
