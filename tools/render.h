// Rendering through libgme: a VGM or HES file in, 44.1 kHz stereo samples out.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

constexpr int kRenderRate = 44100;

// Renders `seconds` of track `track` + 1 (1 unless given), silence included, with the
// voices for which `keep` is false muted (libgme's voice names: "Square 1-3", "Noise" or "PSG", "FM 1-6",
// "PCM" for VGM files; "Wave 1-4", "Multi 1-2" for HES). When `warning` is given it
// receives libgme's warning after the render ("" when there is none). Throws
// std::runtime_error with libgme's message. With `fullBass` the bass is not cut (libgme
// cuts it from a few hundred Hz for HES files by default, which moves low drums).
std::vector<short> renderVoices(const std::string& path, double seconds,
                                const std::function<bool(const std::string&)>& keep,
                                std::string* warning = nullptr, bool fullBass = false, int track = 0);

// What libgme finds in a file: its track count and the names of its voices. An HES
// file does not give its count: the playlist beside it does, where there is one
// (`counted` says whether the count came from the file or its playlist). Throws
// std::runtime_error with libgme's message.
struct FileVoices {
    int tracks = 0;
    bool counted = true;
    std::vector<std::string> voices;
};
FileVoices describeFile(const std::string& path);

// Renders every voice, or with `psgOnly` only the SN76489's (for VGM files, whose FM
// and PCM the HES player skips).
std::vector<short> renderFile(const std::string& path, double seconds, bool psgOnly = false);

} // namespace quorvel
