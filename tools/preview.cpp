// quorvel-preview: an HES or VGM file in, a WAV file of its sound out (through
// libgme), to hear a conversion without an emulator: a track of an album, all voices
// or the ones named; with -l, the file's tracks and voices listed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "cli/guard.h"
#include "convert/bytes.h"
#include "convert/job.h"
#include "hes/output_file.h"
#include "tools/render.h"

namespace {

constexpr double kLongest = 3600; // seconds: an hour of WAV is 635 MB

void printUsage(bool options)
{
    std::puts("Usage: quorvel-preview [-t TRACK] <input> <output.wav> [seconds [voice...]]\n"
              "       quorvel-preview -l <input>");
    if (!options) return;
    std::puts("  <input>   an HES file (quorvel's or another) or a VGM file, plain or .vgz\n"
              "  seconds   how long to render, a positive number up to 3600 (30 unless given)\n"
              "  voice     render only the voices named, as -l lists them (all unless given)\n"
              "  -t TRACK  the track of an album to render, from 1 (1 unless given)\n"
              "  -l        list the file's tracks and voices, and write nothing\n"
              "  -h        print this help (also -help, -?)");
}

// A whole argument as a number, or false.
bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool writeWav(const std::string& path, const std::vector<short>& samples)
{
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
    quorvel::OutputFile out;
    return out.open(path) && out.write(header, sizeof header) && out.write(body.data(), body.size()) && out.commit();
}

int fail(const std::string& line)
{
    std::printf("Error: %s\n", line.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool list = false;
    std::string trackText;
    std::vector<std::string> plain;
    for (int n = 1; n < argc; ++n) {
        const std::string arg = argv[n];
        if (arg == "-h" || arg == "-help" || arg == "-?") {
            printUsage(true);
            return 0;
        }
        if (arg == "-l") {
            list = true;
        } else if (arg == "-t") {
            if (n + 1 == argc) return fail("-t needs a track number");
            trackText = argv[++n];
        } else if (double number = 0; arg.size() > 1 && arg[0] == '-' && !parseNumber(arg.c_str(), number)) {
            return fail("unknown option " + arg + " (-h lists the options)"); // a negative length is no option
        } else {
            plain.push_back(arg);
        }
    }
    if (plain.empty() || (!list && plain.size() < 2)) {
        printUsage(false);
        return 2;
    }
    const std::string input = plain[0];
    try {
        const quorvel::FileVoices file = quorvel::describeFile(input);
        if (list) {
            if (file.counted) {
                std::printf("%s: %d track%s; voices:", input.c_str(), file.tracks, file.tracks == 1 ? "" : "s");
            } else {
                std::printf("%s: tracks not counted (no playlist beside it); voices:", input.c_str());
            }
            for (const std::string& voice : file.voices) std::printf(" \"%s\"", voice.c_str());
            std::puts("");
            return 0;
        }
        double track = 1;
        if (!trackText.empty() && (!parseNumber(trackText.c_str(), track) || track < 1 || track > file.tracks ||
                                   track != std::floor(track))) {
            return fail("no track " + trackText + " in " + input + ", which has " + std::to_string(file.tracks) +
                        (file.tracks == 1 ? " track" : " tracks") + (file.counted ? "" : " at most"));
        }
        double seconds = 30;
        if (plain.size() > 2 && (!parseNumber(plain[2].c_str(), seconds) || seconds <= 0 || seconds > kLongest)) {
            return fail("the length \"" + plain[2] + "\" is not a number of seconds from 0 to 3600");
        }
        const std::vector<std::string> voices(plain.begin() + std::min<std::size_t>(plain.size(), 3), plain.end());
        for (const std::string& voice : voices) {
            bool known = false;
            for (const std::string& name : file.voices) known = known || name == voice;
            if (!known) return fail("no voice \"" + voice + "\" in " + input + " (-l lists them)");
        }
        quorvel::checkOutput(plain[1], {input});
        const std::vector<short> samples = quorvel::renderVoices(
            input, seconds,
            [&voices](const std::string& name) {
                if (voices.empty()) return true;
                for (const std::string& voice : voices) {
                    if (voice == name) return true;
                }
                return false;
            },
            nullptr, false, static_cast<int>(track) - 1);
        if (!writeWav(plain[1], samples)) return fail("cannot write " + plain[1]);
    } catch (const quorvel::ConversionError& e) {
        std::fputs(e.what(), stdout);
        return 1;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    return 0;
}
