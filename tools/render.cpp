// Rendering through libgme: a VGM or HES file in, 44.1 kHz stereo samples out.
#include "tools/render.h"

#include <gme/gme.h>

#include <stdexcept>

namespace quorvel {

std::vector<short> renderFile(const std::string& path, double seconds, bool psgOnly)
{
    Music_Emu* emu = nullptr;
    if (gme_err_t err = gme_open_file(path.c_str(), &emu, kRenderRate)) {
        throw std::runtime_error(path + ": " + err);
    }
    gme_ignore_silence(emu, 1);
    if (psgOnly) {
        // libgme names the SN76489's voices "Square 1-3" and "Noise", or "PSG" as one
        // voice when the file has FM chips too.
        for (int voice = 0; voice < gme_voice_count(emu); ++voice) {
            const std::string name = gme_voice_name(emu, voice);
            const bool psg = name.rfind("Square", 0) == 0 || name == "Noise" || name == "PSG";
            gme_mute_voice(emu, voice, psg ? 0 : 1);
        }
    }
    std::vector<short> samples(static_cast<std::size_t>(seconds * kRenderRate) * 2);
    gme_err_t err = gme_start_track(emu, 0);
    for (std::size_t done = 0; !err && done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(samples.size() - done, 8192);
        err = gme_play(emu, static_cast<int>(count), samples.data() + done);
        done += count;
    }
    gme_delete(emu);
    if (err) throw std::runtime_error(path + ": " + err);
    return samples;
}

} // namespace quorvel
