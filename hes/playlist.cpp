// Playlists for music players: songs' names and lengths in; the extended M3U text that
// libgme-based players read beside an HES file (file::HES,track,title,length,...) out.
#include "hes/playlist.h"

#include <cstdio>

namespace quorvel {
namespace {

constexpr unsigned kFadeSeconds = 10;

// A backslash before each character the line's fields would take for a separator.
std::string escaped(const std::string& text, const char* special)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || std::string(special).find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

// Milliseconds as m:ss.mmm.
std::string timeText(std::uint64_t samples)
{
    const std::uint64_t ms = (samples * 1000 + 22050) / 44100;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02u.%03u", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
    return text;
}

std::string withoutExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

std::string fileName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PlaylistEntry playlistEntry(const TrackInfo& info, const std::string& inputPath)
{
    PlaylistEntry entry;
    entry.title = !info.title.empty()           ? info.title
                  : !info.titleJapanese.empty() ? info.titleJapanese
                                                : withoutExtension(fileName(inputPath));
    for (char& c : entry.title) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' '; // one line a track
    }
    entry.totalSamples = info.totalSamples;
    entry.loopSamples = info.loopSamples <= info.totalSamples ? info.loopSamples : 0;
    return entry;
}

std::string playlistText(const std::string& hesName, const std::string& game, const std::string& author,
                         const std::vector<PlaylistEntry>& entries)
{
    // The game on the first comment line, then named fields: libgme shows the game only
    // when one of them is there, so without an author the playlist names its maker.
    std::string text;
    if (!game.empty()) text += "# " + game + "\n";
    if (!author.empty()) text += "# Composer: " + author + "\n";
    if (!game.empty() && author.empty()) text += "# Tagging: quorvel\n";
    const std::string file = escaped(hesName, ",:");
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const PlaylistEntry& e = entries[n];
        text += file + "::HES," + std::to_string(n + 1) + "," + escaped(e.title, ",") + ",";
        if (e.totalSamples != 0) text += timeText(e.totalSamples);
        text += ",";
        if (e.loopSamples != 0) text += timeText(e.totalSamples - e.loopSamples) + "-";
        text += "," + std::to_string(e.loopSamples != 0 ? kFadeSeconds : 0) + ",\n";
    }
    return text;
}

std::string playlistPath(const std::string& outputPath)
{
    const std::string name = fileName(outputPath);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return outputPath + ".m3u";
    return outputPath.substr(0, outputPath.size() - (name.size() - dot)) + ".m3u";
}

} // namespace quorvel
