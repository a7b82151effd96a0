// The player: each test song is converted by the built quorvel with the player image,
// then rendered twice through libgme, the VGM by its VGM player (SN76489 voices only)
// and the HES by its HES player. Pitch and loudness must agree window by window.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numeric>

#include "tests/support.h"
#include "tools/render.h"
#include "tools/songs.h"

namespace quorvel::songs {
// Test listings name a song by its name rather than by its bytes.
void PrintTo(const Song& song, std::ostream* os) { *os << song.name; }
} // namespace quorvel::songs

namespace quorvel::test {
namespace {

constexpr std::size_t kWindow = kRenderRate / 20; // 50 ms
constexpr std::size_t kFftSize = 16384;

std::vector<double> mono(const std::vector<short>& stereo)
{
    std::vector<double> out(stereo.size() / 2);
    for (std::size_t n = 0; n < out.size(); ++n) out[n] = stereo[2 * n] + stereo[2 * n + 1];
    return out;
}

double rms(const std::vector<double>& s, std::size_t from, std::size_t count)
{
    double sum = 0;
    for (std::size_t n = from; n < from + count && n < s.size(); ++n) sum += s[n] * s[n];
    return std::sqrt(sum / static_cast<double>(count));
}

// Frequency of the strongest spectral peak of one window (Hann, zero-padded,
// parabolic interpolation between bins).
class PeakFinder {
public:
    PeakFinder()
        : in_(fftw_alloc_real(kFftSize)), out_(fftw_alloc_complex(kFftSize / 2 + 1)),
          plan_(fftw_plan_dft_r2c_1d(static_cast<int>(kFftSize), in_, out_, FFTW_ESTIMATE))
    {
    }
    ~PeakFinder()
    {
        fftw_destroy_plan(plan_);
        fftw_free(in_);
        fftw_free(out_);
    }
    double operator()(const std::vector<double>& s, std::size_t from)
    {
        for (std::size_t n = 0; n < kFftSize; ++n) {
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(n) / (kWindow - 1));
            in_[n] = n < kWindow && from + n < s.size() ? s[from + n] * hann : 0.0;
        }
        fftw_execute(plan_);
        std::vector<double> mag(kFftSize / 2 + 1);
        for (std::size_t k = 0; k < mag.size(); ++k) mag[k] = std::hypot(out_[k][0], out_[k][1]);
        const std::size_t low = 40 * kFftSize / kRenderRate, high = 8000 * kFftSize / kRenderRate;
        const std::size_t k = std::max_element(mag.begin() + low, mag.begin() + high) - mag.begin();
        const double a = std::log(mag[k - 1] + 1e-9), b = std::log(mag[k] + 1e-9), c = std::log(mag[k + 1] + 1e-9);
        const double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
        return (static_cast<double>(k) + shift) * kRenderRate / kFftSize;
    }

private:
    double* in_;
    fftw_complex* out_;
    fftw_plan plan_;
};

// Samples by which `b` lags `a`: the best match of their 1 ms loudness within 40 ms.
long lagOf(const std::vector<double>& a, const std::vector<double>& b)
{
    const std::size_t block = kRenderRate / 1000, blocks = std::min(a.size(), b.size()) / block;
    std::vector<double> ea(blocks), eb(blocks);
    for (std::size_t n = 0; n < blocks; ++n) {
        ea[n] = rms(a, n * block, block);
        eb[n] = rms(b, n * block, block);
    }
    long best = 0;
    double bestScore = -1;
    for (long lag = -40; lag <= 40; ++lag) {
        double score = 0;
        for (std::size_t n = 40; n + 40 < std::min<std::size_t>(blocks, 3000); ++n) {
            score += ea[n] * eb[static_cast<std::size_t>(static_cast<long>(n) + lag)];
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best * static_cast<long>(block);
}

double correlation(const std::vector<double>& x, const std::vector<double>& y)
{
    const double n = static_cast<double>(x.size());
    const double mx = std::accumulate(x.begin(), x.end(), 0.0) / n;
    const double my = std::accumulate(y.begin(), y.end(), 0.0) / n;
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxy / std::sqrt(sxx * syy);
}

class PlayerSong : public ::testing::TestWithParam<songs::Song> {};

TEST_P(PlayerSong, HesRenderMatchesVgmRender)
{
    const songs::Song& song = GetParam();
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / "song.vgm", song.vgm);
    ASSERT_EQ(runQuorvel({"song.vgm", "song.hes"}, dir.path()).status, 0);
    if (song.name == "banks") {
        ASSERT_GE(readFile(dir / "song.hes").size(), 0x4000u + 4 * 0x8000u) << "the song should span banks";
    }

    const std::vector<double> vgm = mono(renderFile(dir / "song.vgm", song.seconds, true));
    const std::vector<double> hes = mono(renderFile(dir / "song.hes", song.seconds));
    const long lag = lagOf(vgm, hes);

    PeakFinder peak;
    std::vector<double> vgmLoudness, hesLoudness, vgmPitch, hesPitch;
    for (std::size_t from = 0; from + kWindow <= vgm.size(); from += kWindow) {
        const long other = static_cast<long>(from) + lag;
        if (other < 0 || static_cast<std::size_t>(other) + kWindow > hes.size()) continue;
        vgmLoudness.push_back(rms(vgm, from, kWindow));
        hesLoudness.push_back(rms(hes, static_cast<std::size_t>(other), kWindow));
        vgmPitch.push_back(peak(vgm, from));
        hesPitch.push_back(peak(hes, static_cast<std::size_t>(other)));
    }

    // Pitch is compared where the VGM holds one note across three windows, so that a
    // note change a few milliseconds apart in the two renders does not count.
    const double loud = *std::max_element(vgmLoudness.begin(), vgmLoudness.end());
    std::size_t compared = 0;
    double worst = 0;
    for (std::size_t w = 1; w + 1 < vgmPitch.size(); ++w) {
        const auto same = [&](std::size_t x) { return std::fabs(vgmPitch[x] / vgmPitch[w] - 1) < 0.002; };
        if (vgmLoudness[w] < 0.1 * loud || !same(w - 1) || !same(w + 1)) continue;
        const double error = std::fabs(hesPitch[w] / vgmPitch[w] - 1);
        worst = std::max(worst, error);
        ++compared;
        EXPECT_LT(error, 0.005) << song.name << " window " << w << ": " << vgmPitch[w] << " Hz against "
                                << hesPitch[w] << " Hz";
    }
    const double envelope = correlation(vgmLoudness, hesLoudness);
    std::cout << song.name << ": lag " << lag << " samples, " << compared << " of " << vgmPitch.size()
              << " windows compared, worst pitch error " << worst * 100 << "%, envelope correlation "
              << envelope << "\n";
    EXPECT_GT(compared, vgmPitch.size() / 2);
    EXPECT_GT(envelope, 0.9) << song.name;
}

TEST(PlayerExample, BundledExamplePlaysAudibly)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    ASSERT_EQ(runQuorvel({std::string(QUORVEL_SOURCE_DIR) + "/examples/demo.vgz", "demo.hes"}, dir.path()).status, 0);
    const std::vector<double> hes = mono(renderFile(dir / "demo.hes", 8.0));
    for (std::size_t second = 0; second < 8; ++second) {
        EXPECT_GT(rms(hes, second * kRenderRate, kRenderRate), 1000.0) << "second " << second;
    }
}

INSTANTIATE_TEST_SUITE_P(Songs, PlayerSong, ::testing::ValuesIn(songs::all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quorvel::test
