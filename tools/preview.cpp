// quorvel-preview: an HES or VGM file in, a WAV file of its sound out (through
// libgme), to hear a conversion without an emulator; with voice names after the
// seconds, those voices alone.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "convert/bytes.h"
#include "tools/render.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::puts("Usage: quorvel-preview FILE.hes|FILE.vgm[z] OUT.wav [seconds [voice...]]");
        return 2;
    }
    const double seconds = argc > 3 ? std::atof(argv[3]) : 30.0;
    std::vector<short> samples;
    try {
        const std::vector<std::string> voices(argv + std::min(argc, 4), argv + argc);
        samples = quorvel::renderVoices(argv[1], seconds > 0 ? seconds : 30.0, [&voices](const std::string& name) {
            return voices.empty() || std::find(voices.begin(), voices.end(), name) != voices.end();
        });
    } catch (const std::exception& e) {
        std::printf("Error: %s\n", e.what());
        return 1;
    }

    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                               16, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0,
                               'd', 'a', 't', 'a', 0, 0, 0, 0};
    quorvel::setLe32(header + 4, 36 + dataBytes);
    quorvel::setLe32(header + 24, quorvel::kRenderRate);
    quorvel::setLe32(header + 28, quorvel::kRenderRate * 4);
    quorvel::setLe32(header + 40, dataBytes);
    quorvel::Bytes body(dataBytes);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        body[2 * n] = static_cast<std::uint8_t>(samples[n]);
        body[2 * n + 1] = static_cast<std::uint8_t>(static_cast<unsigned short>(samples[n]) >> 8);
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool ok = out && std::fwrite(header, 1, sizeof header, out) == sizeof header &&
                    std::fwrite(body.data(), 1, body.size(), out) == body.size();
    if (!out || std::fclose(out) != 0 || !ok) {
        std::printf("Error: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
