// One copy of each sample across an album: the library finds a block's samples only
// where they stand in one block, and every track, read as the player reads it, plays
// the commands and the data bank of the song converted alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "convert/compact.h"
#include "convert/repeats.h"
#include "convert/samples.h"
#include "tests/image_model.h"
#include "tests/support.h"
#include "tools/kit_songs.h"

namespace quorvel::test {
namespace {

Bytes randomBytes(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    for (std::uint8_t& s : b) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::uint8_t>(seed >> 16);
    }
    return b;
}

// An image of header, the blocks one right after the other, and nothing else: what
// the library needs of a converted image.
Bytes imageOfBlocks(const std::vector<Bytes>& blocks, std::vector<std::uint32_t>& at)
{
    Bytes image(0x100, 0x00);
    for (const Bytes& b : blocks) {
        at.push_back(static_cast<std::uint32_t>(image.size()));
        image.insert(image.end(), {0x67, 0x66, 0x00, 0, 0, 0, 0});
        setLe32(image, image.size() - 4, static_cast<std::uint32_t>(b.size()));
        image.insert(image.end(), b.begin(), b.end());
    }
    image.resize((image.size() + 0x7FFF) & ~std::size_t{0x7FFF}, 0x00);
    return image;
}

TEST(SharedSamples, FoundWhereTheyStandInOneBlock)
{
    const Bytes a = randomBytes(5000, 1), b = randomBytes(3000, 2), silence(4000, 0x80);
    std::vector<std::uint32_t> at;
    const Bytes image = imageOfBlocks({a, b, silence}, at);
    SampleLibrary library;
    const std::uint32_t base = 3 * 0x2000; // the song starts at the album's page 3
    library.add(image, base, at);

    EXPECT_EQ(library.find(a.data(), a.size()), base + at[0] + 7);
    EXPECT_EQ(library.find(b.data() + 1, 2999), base + at[1] + 8) << "a stretch to the block's end";
    EXPECT_EQ(library.find(a.data() + 77, 100), base + at[0] + 84) << "a stretch at no window's place";
    EXPECT_EQ(library.find(silence.data(), 1000), base + at[2] + 7) << "silence, every window alike";

    // The end of one block and the start of the next are not one stretch in the image.
    Bytes across(a.end() - 100, a.end());
    across.insert(across.end(), b.begin(), b.begin() + 100);
    EXPECT_EQ(library.find(across.data(), across.size()), SampleLibrary::kNotHeld);
    Bytes changed(b.begin(), b.begin() + 500);
    changed[499] ^= 1;
    EXPECT_EQ(library.find(changed.data(), changed.size()), SampleLibrary::kNotHeld);
    EXPECT_EQ(library.find(a.data(), kMinSharedBlock / 2), SampleLibrary::kNotHeld) << "too short to look for";
}

// A track converted with the samples of the songs before it, and the same song alone.
struct Track {
    Bytes shared, alone;
    std::uint32_t sharedBlocks = 0;
};

Track convertTrack(const Bytes& vgm, SampleLibrary& library, std::size_t start, bool repeats)
{
    Track t;
    t.shared = albumTrack(vgm, library, start, repeats, &t.sharedBlocks);
    const Converted alone = convert(vgm);
    EXPECT_EQ(alone.error, "");
    t.alone = alone.image;
    return t;
}

// Albums of songs that share their drums whole and in part, with blocks of their own,
// blocks of no PCM (one of the type the converter takes for its own), the loop at a
// block or among the bars: each track plays what the song plays alone, through the
// loop twice, its samples read from the earlier tracks; with repeats too.
TEST(SharedSamples, EveryTrackPlaysTheSongAlone)
{
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        songs::KitSongs kit(seed, 6);
        const bool repeats = seed % 2 == 0;
        SampleLibrary library;
        Bytes album;
        std::vector<Track> tracks;
        std::size_t alone = 0, used = 0, usedAlone = 0; // banks' bytes, and those the commands take
        unsigned shared = 0;
        for (unsigned n = 0; n < 8; ++n) {
            const Bytes vgm = kit.song(3 + kit.pick(5), 10 + kit.pick(20));
            tracks.push_back(convertTrack(vgm, library, album.size(), repeats));
            album.insert(album.end(), tracks.back().shared.begin(), tracks.back().shared.end());
            alone += tracks.back().alone.size();
            used += getLe32(tracks.back().shared, 0x04);
            usedAlone += getLe32(tracks.back().alone, 0x04);
        }
        for (std::size_t n = 0; n < tracks.size(); ++n) {
            const std::string what = "seed " + std::to_string(seed) + ", track " + std::to_string(n + 1);
            const Played want = play(tracks[n].alone, 2), got = play(tracks[n].shared, 2, &album);
            ASSERT_EQ(want.fault, "") << what;
            ASSERT_EQ(got.fault, "") << what;
            EXPECT_EQ(got.shared, tracks[n].sharedBlocks) << what;
            EXPECT_EQ(got.dataBank, want.dataBank) << what;
            EXPECT_EQ(got.commands, want.commands) << what;
            EXPECT_EQ(tracks[n].shared[kVersionOffset] == kRepeatsMark, got.shared > 0 || got.deepest > 0) << what;
            shared += got.shared;
        }
        // Every block that stands whole in an earlier track's block is shared.
        std::vector<Bytes> earlier;
        for (std::size_t n = 0; n < tracks.size(); ++n) {
            const Played alone = play(tracks[n].alone, 1);
            std::vector<Bytes> blocks;
            for (std::size_t b = 0; b < alone.blockStarts.size(); ++b) {
                const std::size_t end = b + 1 < alone.blockStarts.size() ? alone.blockStarts[b + 1] : alone.dataBank.size();
                blocks.emplace_back(alone.dataBank.begin() + static_cast<long>(alone.blockStarts[b]),
                                    alone.dataBank.begin() + static_cast<long>(end));
            }
            unsigned held = 0;
            for (const Bytes& block : blocks) {
                const auto in = [&block](const Bytes& e) {
                    return std::search(e.begin(), e.end(), block.begin(), block.end()) != e.end();
                };
                if (block.size() >= kMinSharedBlock && std::any_of(earlier.begin(), earlier.end(), in)) ++held;
            }
            EXPECT_EQ(tracks[n].sharedBlocks, held) << "seed " << seed << ", track " << n + 1;
            earlier.insert(earlier.end(), blocks.begin(), blocks.end());
        }
        EXPECT_GT(shared, 10u);
        EXPECT_LT(used * 3, usedAlone * 2) << "seed " << seed;
        EXPECT_LT(album.size(), alone) << "seed " << seed;
        std::cout << "seed " << seed << ": " << usedAlone << " bytes in " << alone / 0x8000 << " banks alone, " << used
                  << " in " << album.size() / 0x8000 << " with each sample once (" << shared << " blocks shared)"
                  << (repeats ? " and repeats\n" : "\n");
    }
}

} // namespace
} // namespace quorvel::test
