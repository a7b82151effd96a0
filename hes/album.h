// An album: the converted images of several songs in; one HES file whose track n
// plays song n (through the player's table of where each song's banks start) out.
#pragma once

#include <string>
#include <vector>

#include "convert/bytes.h"

namespace quorvel {

// 32 KiB banks an album may hold: what a HuC6280 maps besides the player.
constexpr std::size_t kAlbumMaxBanks = 31;

// The player's album table at `table`: the number of images, then the 32 KiB bank
// where each starts.
void fillAlbumTable(std::uint8_t* table, const std::vector<Bytes>& images);

// Writes the HES header, the player image with its album table filled in and the
// images one after another (each a whole number of 32 KiB banks, kAlbumMaxBanks in
// all at most), and `playlist` beside it. Throws ConversionError.
void writeAlbum(const std::string& path, const std::vector<Bytes>& images, const std::string& playlist);

} // namespace quorvel
