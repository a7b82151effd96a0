// An album: the converted images of several songs in; one HES file whose track n
// plays song n (through the player's table of where each song's banks start) out.
#pragma once

#include <string>
#include <vector>

#include "convert/bytes.h"

namespace quorvel {

// 32 KiB banks an album may hold: what a HuC6280 maps besides the player. Its songs
// start on 8 KiB pages, kAlbumMaxSongs of them at most.
constexpr std::size_t kAlbumMaxBanks = 31;
constexpr std::size_t kAlbumPageSize = 0x2000;
constexpr std::size_t kAlbumPagesPerBank = 4;
constexpr std::size_t kAlbumMaxPages = kAlbumMaxBanks * kAlbumPagesPerBank;

// A song's converted image as an album holds it: without the whole pages of zero
// fill at its end (the player reads nothing past the end of data).
Bytes albumImage(Bytes image);

// The player's album table at `table`: the number of images, then the 8 KiB page
// where each starts.
void fillAlbumTable(std::uint8_t* table, const std::vector<Bytes>& images);

// Writes the HES header, the player image with its album table filled in and the
// images one after another (each a whole number of 8 KiB pages, kAlbumMaxPages in
// all at most), and `playlist` beside it. Throws ConversionError.
void writeAlbum(const std::string& path, const std::vector<Bytes>& images, const std::string& playlist);

} // namespace quorvel
