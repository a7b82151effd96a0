// Rendering through libgme: a VGM or HES file in, 44.1 kHz stereo samples out.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

constexpr int kRenderRate = 44100;

// Renders `seconds` of track 1, silence included. With `psgOnly`, every voice but the
// SN76489's is muted (for VGM files, whose FM and PCM the HES player skips).
// Throws std::runtime_error with libgme's message.
std::vector<short> renderFile(const std::string& path, double seconds, bool psgOnly = false);

} // namespace quorvel
