// The player on whatever a stream holds: every converted input of the fuzzer's seeds,
// the test songs and random streams (random commands, operands, header fields, loop
// points, data blocks and waits; some with the CD unit's ADPCM) is played for two seconds in libgme, which must
// return and report no illegal instruction (the CPU ran into data, or off the player).
#include <gtest/gtest.h>

#include <dirent.h>

#include <random>

#include "tests/support.h"
#include "tools/huc_songs.h"
#include "tools/render.h"
#include "tools/songs.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

// A VGM of random header fields and commands, weighted towards what the player acts on.
Bytes randomStream(std::mt19937& rng)
{
    auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    static const std::uint32_t clocks[] = {0, 3579545, 3546893, 4000000, 0x40369E99, 1, 0x3FFFFFFF};
    static const std::uint32_t headers[] = {0x40, 0x80, 0x100, 0xC0};
    VgmBuilder v(0x100 + pick(0x80), headers[pick(4)]);
    v.field(0x0C, clocks[pick(7)]);
    v.field(0x2C, pick(2) ? 7670453 : 0);
    if (v.size() >= 0xA8) v.field(0xA4, clocks[pick(7)]);
    if (pick(2)) v.field(0x28, 0x0009 | pick(2) << 24 | 15 << 16);
    if (v.size() >= 0xF4 && pick(3) == 0) { // the CD unit's ADPCM alone with the log
        static const std::uint32_t adpcmClocks[] = {1536000, 0x80000000u | 640000, 1, 0xC0000000u | 384000};
        v.field(0x0C, 0);
        v.field(0x2C, 0);
        v.field(0xF0, adpcmClocks[pick(4)]);
        v.field(0xD4, static_cast<std::uint32_t>(rng()) << 24);
    }
    const unsigned commands = 50 + pick(400);
    for (unsigned n = 0; n < commands; ++n) {
        if (n == commands / 3 && pick(2)) v.loopHere();
        switch (pick(12)) {
        case 0: v.commands({0xB9, static_cast<std::uint8_t>(pick(2) ? pick(10) : pick(256)), static_cast<std::uint8_t>(rng())}); break;
        case 1: v.commands({0xB9, 0x06, static_cast<std::uint8_t>(rng())}); break;
        case 2: v.commands({0x50, static_cast<std::uint8_t>(rng())}); break;
        case 3: v.commands({0x4F, static_cast<std::uint8_t>(rng())}); break;
        case 4: v.commands({static_cast<std::uint8_t>(0x70 + pick(32))}); break;
        case 5: v.wait(pick(3000)); break;
        case 6: v.commands({static_cast<std::uint8_t>(pick(3) ? 0x62 : 0x63)}); break;
        case 7: v.dataBlock(static_cast<std::uint8_t>(pick(3)), Bytes(pick(3000), static_cast<std::uint8_t>(rng()))); break;
        case 8: v.commands({0xE0, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), 0, 0}); break;
        case 9:
            if (pick(2)) v.commands({0x52, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())});
            else v.commands({0x32, static_cast<std::uint8_t>(pick(2) ? 0x10 | pick(32) : rng())});
            break;
        case 10: { // any command byte but a data block, framed by its length
            std::uint8_t c = static_cast<std::uint8_t>(rng());
            if (c == 0x67 || c == 0x66) c = 0x31;
            v.commands({c});
            for (unsigned k = 0; k < 11 && pick(2); ++k) v.commands({static_cast<std::uint8_t>(rng())});
            break;
        }
        default: v.commands({0x61, static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(pick(4))}); break;
        }
    }
    return v.finish(pick(2) ? "random" : "");
}

std::vector<std::pair<std::string, Bytes>> inputs()
{
    std::vector<std::pair<std::string, Bytes>> out;
    const std::string corpus = std::string(QUORVEL_SOURCE_DIR) + "/fuzz/corpus";
    if (DIR* dir = opendir(corpus.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') out.emplace_back(entry->d_name, readFile(corpus + "/" + entry->d_name));
        }
        closedir(dir);
    }
    for (const songs::Song& song : songs::all()) out.emplace_back(song.name, song.vgm);
    for (const songs::HucSong& song : songs::hucSongs()) out.emplace_back(song.name, song.vgm);
    for (const songs::Song& song : {songs::pcmDrums(false), songs::pcmDrums(true), songs::dacStreams().song,
                                    songs::seekBeyond()}) {
        out.emplace_back(song.name, song.vgm);
    }
    std::mt19937 rng(2026);
    for (int n = 0; n < 200; ++n) out.emplace_back("random " + std::to_string(n), randomStream(rng));
    return out;
}

TEST(PlayerRobustness, EveryStreamPlaysWithoutRunningIntoData)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    std::size_t played = 0;
    for (const auto& [name, vgm] : inputs()) {
        writeFile(dir / "in.vgm", vgm);
        if (runQuorvel({"in.vgm", "out.hes"}, dir.path()).status != 0) continue;
        std::string warning;
        ASSERT_NO_THROW(renderVoices(dir / "out.hes", 2.0, [](const std::string&) { return true; }, &warning)) << name;
        EXPECT_EQ(warning.find("illegal"), std::string::npos) << name << ": " << warning;
        ++played;
    }
    EXPECT_GE(played, 150u);
}

} // namespace
} // namespace quorvel::test
