// Rendering through libgme: a VGM or HES file in, 44.1 kHz stereo samples out.
#include "tools/render.h"

#include <gme/gme.h>

#include <stdexcept>

namespace quorvel {

std::vector<short> renderVoices(const std::string& path, double seconds,
                                const std::function<bool(const std::string&)>& keep, std::string* warning,
                                bool fullBass, int track)
{
    Music_Emu* emu = nullptr;
    if (gme_err_t err = gme_open_file(path.c_str(), &emu, kRenderRate)) {
        throw std::runtime_error(path + ": " + err);
    }
    if (fullBass) {
        gme_equalizer_t eq;
        gme_equalizer(emu, &eq);
        eq.bass = 1;
        gme_set_equalizer(emu, &eq);
    }
    gme_ignore_silence(emu, 1);
    for (int voice = 0; voice < gme_voice_count(emu); ++voice) {
        gme_mute_voice(emu, voice, keep(gme_voice_name(emu, voice)) ? 0 : 1);
    }
    gme_warning(emu); // clears what loading reported
    std::vector<short> samples(static_cast<std::size_t>(seconds * kRenderRate) * 2);
    gme_err_t err = gme_start_track(emu, track);
    for (std::size_t done = 0; !err && done < samples.size();) {
        const std::size_t count = std::min<std::size_t>(samples.size() - done, 8192);
        err = gme_play(emu, static_cast<int>(count), samples.data() + done);
        done += count;
    }
    if (warning) {
        const char* text = gme_warning(emu);
        *warning = text ? text : "";
    }
    gme_delete(emu);
    if (err) throw std::runtime_error(path + ": " + err);
    return samples;
}

FileVoices describeFile(const std::string& path)
{
    Music_Emu* emu = nullptr;
    if (gme_err_t err = gme_open_file(path.c_str(), &emu, kRenderRate)) {
        throw std::runtime_error(path + ": " + err);
    }
    FileVoices file;
    if (gme_type(emu) == gme_hes_type) {
        const std::size_t dot = path.rfind('.');
        const std::size_t slash = path.rfind('/');
        const std::string base = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                                     ? path
                                     : path.substr(0, dot);
        file.counted = gme_load_m3u(emu, (base + ".m3u").c_str()) == nullptr;
    }
    file.tracks = gme_track_count(emu);
    for (int voice = 0; voice < gme_voice_count(emu); ++voice) file.voices.push_back(gme_voice_name(emu, voice));
    gme_delete(emu);
    return file;
}

std::vector<short> renderFile(const std::string& path, double seconds, bool psgOnly)
{
    return renderVoices(path, seconds, [psgOnly](const std::string& name) {
        return !psgOnly || name.rfind("Square", 0) == 0 || name == "Noise" || name == "PSG";
    });
}

} // namespace quorvel
