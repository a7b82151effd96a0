// An album: the converted images of several songs in; one HES file whose track n
// plays song n (through the player's table of where each song's banks start) out.
#include "hes/album.h"

#include "convert/layout.h"
#include "hes/hes_writer.h"

namespace quorvel {

Bytes albumImage(Bytes image)
{
    std::size_t used = image.size();
    while (used > 0 && image[used - 1] == 0x00) --used;
    image.resize((used + kAlbumPageSize - 1) / kAlbumPageSize * kAlbumPageSize);
    return image;
}

void fillAlbumTable(std::uint8_t* table, const std::vector<Bytes>& images)
{
    table[0] = static_cast<std::uint8_t>(images.size());
    std::size_t size = 0;
    for (std::size_t n = 0; n < images.size(); ++n) {
        table[1 + n] = static_cast<std::uint8_t>(size / kAlbumPageSize);
        size += images[n].size();
    }
}

void writeAlbum(const std::string& path, const std::vector<Bytes>& images, const std::string& playlist)
{
    Bytes player = loadPlayerImage(); // from file offset 0x20
    fillAlbumTable(player.data() + (kAlbumTableOffset - kHesHeaderSize), images);
    std::size_t size = 0;
    std::vector<ImagePiece> parts = {{}, pieceOf(player)};
    for (const Bytes& image : images) {
        size += image.size();
        parts.push_back(pieceOf(image));
    }
    const auto header = makeHesHeader(static_cast<std::uint32_t>(size));
    parts[0] = {header.data(), header.size(), 0};
    writeOutputs(path, parts, playlist);
}

} // namespace quorvel
