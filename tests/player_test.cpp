// The player: each test song is converted by the built quorvel with the player image,
// then rendered twice through libgme, the VGM by its VGM player (SN76489 voices only)
// and the HES by its HES player. Pitch and loudness must agree window by window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numeric>

#include "tests/audio.h"
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

// The song rendered from its VGM (SN76489 voices only) and from the HES that quorvel
// makes of it, `more` seconds longer.
struct Renders {
    std::vector<double> vgm, hes;
    std::size_t hesBytes;
};

Renders renderBoth(const songs::Song& song, double more = 0)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / "song.vgm", song.vgm);
    EXPECT_EQ(runQuorvel({"song.vgm", "song.hes"}, dir.path()).status, 0);
    return {mono(renderFile(dir / "song.vgm", song.seconds, true)), mono(renderFile(dir / "song.hes", song.seconds + more)),
            readFile(dir / "song.hes").size()};
}

class PlayerSong : public ::testing::TestWithParam<songs::Song> {};

TEST_P(PlayerSong, HesRenderMatchesVgmRender)
{
    const songs::Song& song = GetParam();
    const auto [vgm, hes, hesBytes] = renderBoth(song);
    if (song.name == "banks") {
        ASSERT_GE(hesBytes, 0x4000u + 4 * 0x8000u) << "the song should span banks";
    }
    const long lag = lagOf(vgm, hes);

    PeakFinder peak(kWindow);
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

// Periodic noise is a pulse one step in 15 or 16 wide, whose harmonics are about as
// strong as its fundamental: its pitch is measured by self-similarity over 100 ms.
class PeriodicNoise : public ::testing::TestWithParam<songs::Song> {};

TEST_P(PeriodicNoise, PitchAndLoudnessMatchTheVgmRender)
{
    const songs::Song& song = GetParam();
    const auto [vgm, hes, hesBytes] = renderBoth(song, 0.1);
    const long lag = lagOf(vgm, hes, 40, 20);

    constexpr std::size_t kLong = kRenderRate / 10;
    std::vector<double> vgmLoudness, hesLoudness;
    std::size_t compared = 0;
    double worst = 0;
    for (std::size_t from = kLong; from + 2 * kLong <= vgm.size(); from += kLong / 2) {
        const std::size_t other = static_cast<std::size_t>(static_cast<long>(from) + lag);
        vgmLoudness.push_back(rms(vgm, from, kLong / 2));
        hesLoudness.push_back(rms(hes, other, kLong / 2));
        // Pitch where the VGM holds one note across the window and 20 ms either side.
        const double want = fundamental(vgm, from, kLong, 25, 1000);
        const double before = fundamental(vgm, from - 882, kLong, 25, 1000);
        const double after = fundamental(vgm, from + 882, kLong, 25, 1000);
        if (want == 0 || std::fabs(before / want - 1) > 0.002 || std::fabs(after / want - 1) > 0.002) continue;
        const double got = fundamental(hes, other, kLong, 25, 1000);
        const double error = std::fabs(got / want - 1);
        EXPECT_LT(error, 0.01) << song.name << " at " << from << ": " << want << " Hz against " << got << " Hz";
        worst = std::max(worst, error);
        ++compared;
    }
    const double envelope = correlation(vgmLoudness, hesLoudness);
    std::cout << song.name << ": " << compared << " windows, worst pitch error " << worst * 100
              << "%, envelope correlation " << envelope << "\n";
    EXPECT_GE(compared, 25u);
    EXPECT_GE(envelope, 0.9);
}

INSTANTIATE_TEST_SUITE_P(Songs, PeriodicNoise, ::testing::Values(songs::periodic(16), songs::periodic(15)),
                         [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Songs, PlayerSong, ::testing::ValuesIn(songs::all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quorvel::test
