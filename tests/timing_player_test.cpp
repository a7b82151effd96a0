// The player keeps time whatever the stream holds: seeded random mixes of every
// command that waits or plays PCM among FM and PSG writes, and a driver that writes
// the YM2612 with every DAC sample, each rendered through libgme and held against
// the same markers with nothing between them. Every marker of a minute must come
// within a few samples of its place: the player may merge samples when busy, but it
// is free again before each marker and never drifts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

#include "convert/compact.h"
#include "convert/repeats.h"
#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/timing_songs.h"

namespace quorvel::test {
namespace {

constexpr unsigned kMarkers = 5;     // a loop of six seconds, ten times over
constexpr double kSeconds = 60.5;
constexpr long kLatest = 32;         // samples a marker may stand from its place

// How a song is converted: as it is, with its repeats played from their first copy,
// or as an album's second track whose samples the first holds.
enum class As { plain, repeats, secondTrack };

// The song's HES file.
std::string convertSong(const ScratchDir& dir, const songs::Song& song, As as = As::plain, const Bytes& bank = Bytes())
{
    const std::string hes = dir / (song.name + ".hes");
    if (as == As::repeats) {
        const Converted packed = convert(song.vgm, song.name + ".vgm", true);
        EXPECT_EQ(packed.image[kVersionOffset], kRepeatsMark) << song.name << ": nothing repeats";
        writeFile(hes, hesWithBuiltPlayer(packed.image));
        return hes;
    }
    if (as == As::secondTrack) {
        VgmBuilder first = songs::ymStart();
        first.dataBlock(0x00, bank);
        SampleLibrary library;
        const Bytes one = albumTrack(first.finish(), library, 0, false);
        std::uint32_t shared = 0;
        const Bytes two = albumTrack(song.vgm, library, one.size(), false, &shared);
        EXPECT_GE(shared, 11u) << song.name << ": a block or more in each of its eleven spans";
        writeFile(hes, albumWithBuiltPlayer({one, two}));
        return hes;
    }
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    writeFile(dir / (song.name + ".vgm"), song.vgm);
    EXPECT_EQ(runQuorvel({song.name + ".vgm", song.name + ".hes"}, dir.path()).status, 0);
    return hes;
}

// Where tone 2 starts to sound after each `from` (-1 when it does not within a second).
std::vector<long> onsets(const std::string& hes, const std::vector<long>& from, int track = 0)
{
    const std::vector<double> s =
        mono(renderVoices(hes, kSeconds, [](const std::string& v) { return v == "Wave 3"; }, nullptr, false, track));
    std::vector<long> found;
    for (const long at : from) {
        long n = std::max(at, 0L);
        const long last = std::min(at + static_cast<long>(songs::kSecond), static_cast<long>(s.size()));
        while (n < last && std::fabs(s[static_cast<std::size_t>(n)]) < 500) ++n;
        found.push_back(n < last ? n : -1);
    }
    return found;
}

// The worst distance, in samples, of the song's markers from the same markers alone.
template <class Mix>
long worstMarker(const std::string& name, Mix mix, As as = As::plain)
{
    const Bytes bank = songs::drumSound(6000, 200, 11025);
    const songs::TimedSong alone = songs::markersAlone(bank, kMarkers, kSeconds);
    songs::TimedSong mixed = songs::timedSong(name, bank, kMarkers, kSeconds, mix);
    ScratchDir dir;
    std::vector<long> due;
    for (std::uint32_t at = songs::kSecond; at + songs::kSecond < kSeconds * songs::kSecond; at += songs::kSecond) {
        if (at % alone.loopSamples != 0) due.push_back(static_cast<long>(at));
    }
    std::vector<long> want = onsets(convertSong(dir, alone.song), due);
    for (long& w : want) w -= 2205; // search from 50 ms before the free player's onset
    const std::vector<long> got = onsets(convertSong(dir, mixed.song, as, bank), want, as == As::secondTrack ? 1 : 0);
    long worst = 0;
    for (std::size_t k = 0; k < due.size(); ++k) {
        EXPECT_GE(got[k], 0) << name << ": no marker after " << due[k] << " samples";
        worst = std::max(worst, std::labs(got[k] - want[k] - 2205));
    }
    std::cout << name << " (" << mixed.song.vgm.size() / 1024 << " KiB): " << due.size()
              << " markers, the worst " << worst << " samples from its place\n";
    return worst;
}

// The marker's writes may wait behind a DAC stream's sample or the FM part's tick
// (every 2.29 ms) that is under way when they fall due: kLatest samples (0.73 ms) at
// most. The tick moves every sounding carrier on; since quiet carriers sound as the
// chip plays them (a carrier fading or far down no longer falls silent early), a tick
// of six voices can take some 6000 cycles, and the worst marker of these mixes moved
// from 10-21 samples to 12-28.
// Late by the mix's load, a marker would be hundreds of samples off or missing.
TEST(TimeKept, RandomMixesOfEveryWaitAndPcmCommand)
{
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        const std::string name = "mix-" + std::to_string(seed);
        EXPECT_LE(worstMarker(name, songs::RandomMix(seed, 6000)), kLatest) << name;
    }
}

// A random mix that comes back as a bar of music does: every third span holds the
// same mix as the last third span of its length.
class ComingBack {
public:
    explicit ComingBack(std::uint32_t seed) : mix_(seed, 6000) {}
    std::uint32_t operator()(VgmBuilder& v, std::uint32_t samples)
    {
        auto& [bytes, used] = seen_[{samples, calls_++ % 3 == 2 ? 0u : calls_}];
        if (!bytes.empty()) {
            v.commands(bytes);
            return used;
        }
        const std::size_t from = v.size();
        used = mix_(v, samples);
        bytes = v.since(from);
        return used;
    }

private:
    songs::RandomMix mix_;
    unsigned calls_ = 0;
    std::map<std::pair<std::uint32_t, unsigned>, std::pair<Bytes, std::uint32_t>> seen_;
};

// Such mixes with their repeats played from their first copy (-fit's last step):
// REPLAY and its return keep the same time.
TEST(TimeKept, RandomMixesWithRepeats)
{
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        const std::string name = "mix-repeats-" + std::to_string(seed);
        EXPECT_LE(worstMarker(name, ComingBack(seed), As::repeats), kLatest) << name;
    }
}

// Such mixes with data blocks among them, as drivers that load samples mid-song
// write them (stretches of the bank an earlier song holds, taken again each time the
// loop comes back over them), in an album's second track: each becomes a block
// played from the first track's copy, and the markers keep their time.
class WithBlocks {
public:
    WithBlocks(std::uint32_t seed, const Bytes& bank) : mix_(seed, 6000), bank_(bank), x_(seed) {}
    std::uint32_t operator()(VgmBuilder& v, std::uint32_t samples)
    {
        for (unsigned n = 1 + pick(2); n > 0; --n) {
            const std::uint32_t from = pick(3000), length = 64 + pick(3000);
            v.dataBlock(0x00, Bytes(bank_.begin() + from, bank_.begin() + from + length));
        }
        return mix_(v, samples);
    }

private:
    std::uint32_t pick(std::uint32_t n)
    {
        x_ = x_ * 1103515245u + 12345u;
        return (x_ >> 8) % n;
    }

    songs::RandomMix mix_;
    const Bytes& bank_;
    std::uint32_t x_;
};

TEST(TimeKept, RandomMixesWithSamplesFromAnEarlierSong)
{
    const Bytes bank = songs::drumSound(6000, 200, 11025);
    for (std::uint32_t seed = 1; seed <= 2; ++seed) {
        const std::string name = "mix-shared-" + std::to_string(seed);
        EXPECT_LE(worstMarker(name, WithBlocks(seed, bank), As::secondTrack), kLatest) << name;
    }
}

// 8.8-11 kHz of 0x8n, each with a YM2612 write and a short wait: no stream, no FM
// note, so the markers come within 4 samples (0.1 ms).
TEST(TimeKept, DriverWritingTheYm2612WithEverySample)
{
    for (std::uint32_t seed = 1; seed <= 2; ++seed) {
        const std::string name = "driver-" + std::to_string(seed);
        EXPECT_LE(worstMarker(name, songs::DriverMix(seed)), 4) << name;
    }
}

} // namespace
} // namespace quorvel::test
