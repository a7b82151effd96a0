// HES container: the finished bank image in; the output file out, either the HES
// header, the player image and the bank image, or with "-raw" the bank image alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/job.h"

namespace quorvel {

constexpr char kPlayerImageName[] = "drovan_huc6280.bin";
constexpr std::size_t kHesHeaderSize = 0x20;
constexpr std::size_t kPlayerImageEnd = 0x4000; // player bytes 0x20-0x3FFF are used

// The player's table of an album's songs, in bank 0 of the player image: the number
// of songs (0 in a single song's file, where every track plays the one song), then the
// first 8 KiB page of the images of each.
constexpr std::size_t kAlbumTableOffset = 0x1F00;
constexpr std::size_t kAlbumMaxSongs = 31;

std::array<std::uint8_t, kHesHeaderSize> makeHesHeader(std::uint32_t imageSize);

// The player image's bytes 0x20-0x3FFF, zero where the file is shorter: from the
// current directory, else the installed share/quorvel, else beside the program.
// Throws ConversionError when "drovan_huc6280.bin" cannot be opened.
Bytes loadPlayerImage();

// Writes `parts` one after another to `path`, and `playlist` (unless empty) to the
// playlist path beside it; each file is moved into place only when all of it was
// written. Throws ConversionError.
void writeOutputs(const std::string& path, const std::vector<ImagePiece>& parts, const std::string& playlist);

// A piece that is all of `bytes`.
ImagePiece pieceOf(const Bytes& bytes);

// Writes the job's image to job.outputPath (with job.playlist beside it) and prints
// "Done!". Throws ConversionError.
void writeHesFile(ConversionJob& job);

} // namespace quorvel
