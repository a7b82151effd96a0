// Playlists for music players: songs' names and lengths in; the extended M3U text that
// libgme-based players read beside an HES file (file::HES,track,title,length,...) out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/track_info.h"

namespace quorvel {

struct PlaylistEntry {
    std::string title;
    std::uint32_t totalSamples = 0; // at 44.1 kHz, one pass of the loop included
    std::uint32_t loopSamples = 0;  // 0 when the song does not loop
};

// The entry of one song: its GD3 title (English, else Japanese, else the input's file
// name without its folder and extension) and its lengths.
PlaylistEntry playlistEntry(const TrackInfo& info, const std::string& inputPath);

// The M3U text: the game and author as comments (the game first, then "Composer:"),
// then one line a track, numbered from 1, each naming `hesName`. Looping songs get a
// 10 second fade.
std::string playlistText(const std::string& hesName, const std::string& game, const std::string& author,
                         const std::vector<PlaylistEntry>& entries);

// Where the playlist of `outputPath` goes: the same path with ".m3u" in place of its
// extension, or added when it has none.
std::string playlistPath(const std::string& outputPath);

// The last component of a path.
std::string fileName(const std::string& path);

} // namespace quorvel
