// Mednafen runs for the player tests (tools/mednafen-frame.sh), their recordings read
// and compared by loudness.
#include "tests/mednafen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "convert/bytes.h"
#include "tests/audio.h"
#include "tests/support.h"

namespace quorvel::test {

void runMednafen(const std::string& file, double seconds, const std::string& png, const std::string& wav)
{
    const std::string command = "bash " QUORVEL_SOURCE_DIR "/tools/mednafen-frame.sh '" + file + "' '" + png + "' " +
                                std::to_string(static_cast<int>(seconds)) + " '" + wav + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::vector<double> readWav(const std::string& path)
{
    const Bytes d = readFile(path);
    std::vector<double> out;
    std::size_t channels = 2;
    for (std::size_t i = 12; i + 8 <= d.size();) {
        const std::uint32_t size = getLe32(d.data() + i + 4);
        if (std::equal(d.begin() + static_cast<long>(i), d.begin() + static_cast<long>(i) + 4, "fmt ")) {
            channels = getLe16(d.data() + i + 10);
        }
        if (std::equal(d.begin() + static_cast<long>(i), d.begin() + static_cast<long>(i) + 4, "data")) {
            for (std::size_t k = i + 8; k + 2 * channels <= std::min<std::size_t>(d.size(), i + 8 + size); k += 2 * channels) {
                double s = 0;
                for (std::size_t c = 0; c < channels; ++c) s += static_cast<std::int16_t>(getLe16(d.data() + k + 2 * c));
                out.push_back(s);
            }
            break;
        }
        i += 8 + size + (size & 1);
    }
    return out;
}

double mednafenLikeness(const std::vector<double>& a, const std::vector<double>& b, double seconds)
{
    constexpr std::size_t kRate = kMednafenRate;
    const std::size_t window = kRate / 20, step = kRate / 100, from = kRate / 2;
    double best = 0;
    for (long lag = -static_cast<long>(kRate); lag <= static_cast<long>(kRate); lag += static_cast<long>(step)) {
        std::vector<double> x, y;
        for (std::size_t at = from; at + window <= from + static_cast<std::size_t>(seconds * kRate); at += window) {
            const long other = static_cast<long>(at) + lag;
            if (other < 0 || at + window > a.size() || static_cast<std::size_t>(other) + window > b.size()) break;
            x.push_back(rms(a, at, window));
            y.push_back(rms(b, static_cast<std::size_t>(other), window));
        }
        if (x.size() >= 40) best = std::max(best, correlation(x, y));
    }
    return best;
}

} // namespace quorvel::test
