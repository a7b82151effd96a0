// Fitting: the PCM samples a fitted song plays, and when, against the writes of the
// song it was made from; every other command at its time; the length and the loop
// kept; songs that fit converted exactly as without -fit; songs that cannot fit
// refused with what they are over.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>

#include "convert/commands.h"
#include "convert/compact.h"
#include "convert/fit.h"
#include "tests/support.h"
#include "tools/fit_songs.h"
#include "tools/timing_songs.h"

namespace quorvel::test {
namespace {

// What a song plays: its DAC samples in order with their times (streams expanded at
// their rate), its other commands with theirs, its length and where its loop starts.
struct Heard {
    std::vector<std::pair<std::uint64_t, std::uint8_t>> samples;
    std::vector<std::pair<std::uint64_t, Bytes>> others;
    std::uint64_t length = 0;
    std::uint64_t loopTime = 0;
};

Heard listen(const Bytes& vgm)
{
    Heard heard;
    const std::size_t loop = getLe32(vgm, 0x1C) + 0x1Cu;
    const OperandTable& operands = operandTable(false);
    Bytes bank;
    std::uint32_t position = 0, hz = 0;
    std::uint64_t time = 0;
    for (std::size_t i = computeHeaderSize(vgm); i < vgm.size();) {
        const std::uint8_t* c = vgm.data() + i;
        const Frame frame = frameCommand(vgm.data(), i + 1, vgm.size(), operands);
        EXPECT_EQ(frame.status, FrameStatus::ok) << "at " << i;
        if (frame.status != FrameStatus::ok || c[0] == 0x66) break;
        if (i == loop) heard.loopTime = time;
        if (c[0] == 0x67 && c[2] == 0x00) bank.insert(bank.end(), c + 7, c + 7 + getLe32(c + 3));
        if (c[0] == 0xE0) position = getLe32(c + 1);
        if (c[0] == 0x92) hz = getLe32(c + 2);
        if (c[0] == 0x93) {
            const std::uint32_t from = getLe32(c + 2), count = getLe32(c + 7);
            EXPECT_EQ(c[6], 0x01) << "a length in samples";
            for (std::uint32_t k = 0; k < count; ++k) {
                const auto at = time + static_cast<std::uint64_t>(k * 44100.0 / hz + 0.5);
                heard.samples.emplace_back(at, from + k < bank.size() ? bank[from + k] : 0x80);
            }
        }
        if (isPcmWait(c[0])) heard.samples.emplace_back(time, position < bank.size() ? bank[position] : 0x80), ++position;
        const bool dac = c[0] == 0x52 && c[1] == 0x2A;
        if (dac) heard.samples.emplace_back(time, c[2]);
        const bool wait = c[0] == 0x61 || c[0] == 0x62 || c[0] == 0x63 || isShortWait(c[0]);
        if (!wait && !dac && !isPcmWait(c[0]) && c[0] != 0xE0 && c[0] != 0x67 && (c[0] < 0x90 || c[0] > 0x95)) {
            heard.others.emplace_back(time, Bytes(c, c + 1 + frame.operands));
        }
        if (c[0] == 0x61) time += getLe16(c + 1);
        if (c[0] == 0x62) time += 735;
        if (c[0] == 0x63) time += 882;
        if (isShortWait(c[0])) time += shortWaitSamples(c[0]);
        if (isPcmWait(c[0])) time += c[0] & 0x0F;
        i += 1 + frame.operands;
    }
    heard.length = time;
    return heard;
}

struct FitCase {
    std::string name;
    Bytes vgm;
    double shrinksTo; // at most this share of the input
};

// A sample may move by the slack of the stream's constant rate, and the rounding of
// the rate to whole Hz.
constexpr std::uint64_t kWithin = 5;

std::vector<FitCase> fitCases()
{
    // The driver writes the YM2612 with every sample: those writes stay, so only the
    // PCM commands go.
    return {{"0x8n", songs::pcmBeyondOneMebibyte(false, 40).song.vgm, 0.1},
            {"dac-writes", songs::pcmBeyondOneMebibyte(true, 12).song.vgm, 0.1},
            {"driver", songs::timedSong("driver", songs::drumSound(6000, 200, 11025), 5, 12, songs::DriverMix(3)).song.vgm,
             0.85}};
}

TEST(Fit, SamplesTimesOtherCommandsLengthAndLoopKept)
{
    for (const FitCase& c : fitCases()) {
        FitReport report;
        const Bytes fitted = fitPcmRuns(c.vgm, report);
        EXPECT_GT(report.runs, 0u) << c.name;
        EXPECT_LT(static_cast<double>(fitted.size()), c.shrinksTo * static_cast<double>(c.vgm.size())) << c.name;
        const Heard before = listen(c.vgm), after = listen(fitted);
        EXPECT_EQ(after.length, before.length) << c.name;
        EXPECT_EQ(after.loopTime, before.loopTime) << c.name;
        EXPECT_EQ(getLe32(fitted, 0x18), getLe32(c.vgm, 0x18)) << c.name;
        EXPECT_EQ(getLe32(fitted, 0x20), getLe32(c.vgm, 0x20)) << c.name;
        EXPECT_TRUE(after.others == before.others) << c.name << ": every other command at its time";
        ASSERT_EQ(after.samples.size(), before.samples.size()) << c.name;
        std::uint64_t moved = 0;
        std::size_t wrong = 0;
        for (std::size_t k = 0; k < before.samples.size(); ++k) {
            const auto& [t0, v0] = before.samples[k];
            const auto& [t1, v1] = after.samples[k];
            moved = std::max(moved, t0 > t1 ? t0 - t1 : t1 - t0);
            wrong += v0 != v1;
        }
        std::cout << c.name << ": " << c.vgm.size() << " -> " << fitted.size() << " bytes, " << report.runs
                  << " streams, " << report.blockBytes << " bytes of samples kept, samples moved by at most " << moved
                  << "\n";
        EXPECT_EQ(wrong, 0u) << c.name;
        EXPECT_LE(moved, kWithin) << c.name;
    }
}

TEST(Fit, SongsWithStreamsOfTheirOwnAreLeftAsTheyAre)
{
    VgmBuilder v;
    v.dataBlock(0x00, Bytes(100, 0x90)).commands({0x90, 0x00, 0x02, 0x00, 0x2A});
    for (int k = 0; k < 500; ++k) v.commands({0x82});
    const Bytes vgm = v.finish();
    FitReport report;
    EXPECT_EQ(fitPcmRuns(vgm, report), vgm);
    EXPECT_TRUE(report.streamsInUse);
}

// The chips as a song leaves them: every YM2612 register of both ports and the
// SN76489's registers and latch (-1 until written), and the writes that act whatever
// their value (key on/off, the DAC and its switch, the F-numbers, the SN76489's noise
// register), each with its time. Played through the loop a second time.
struct ChipReplay {
    std::vector<std::pair<std::uint64_t, std::vector<int>>> states; // after each wait
    std::vector<std::pair<std::uint64_t, Bytes>> acts;
};

ChipReplay replay(const Bytes& vgm)
{
    ChipReplay r;
    std::vector<int> state(512 + 8 + 1, -1); // YM2612 ports, SN76489 registers, latch
    const std::size_t loop = getLe32(vgm, 0x1C) + 0x1Cu;
    const OperandTable& operands = operandTable(false);
    std::uint64_t time = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = pass == 0 ? computeHeaderSize(vgm) : loop; i < vgm.size();) {
            const std::uint8_t* c = vgm.data() + i;
            const Frame frame = frameCommand(vgm.data(), i + 1, vgm.size(), operands);
            if (frame.status != FrameStatus::ok || c[0] == 0x66) break;
            std::uint64_t wait = c[0] == 0x61 ? getLe16(c + 1) : c[0] == 0x62 ? 735 : c[0] == 0x63 ? 882 : 0;
            if (isShortWait(c[0])) wait = shortWaitSamples(c[0]);
            if (isPcmWait(c[0])) wait = c[0] & 0x0F, r.acts.emplace_back(time, Bytes(c, c + 1));
            if (c[0] == 0x52 || c[0] == 0x53) {
                state[static_cast<std::size_t>((c[0] - 0x52) * 256 + c[1])] = c[2];
                const bool acts = (c[0] == 0x52 && (c[1] == 0x28 || c[1] == 0x2A || c[1] == 0x2B)) ||
                                  (c[1] >= 0xA0 && c[1] <= 0xAF);
                if (acts) r.acts.emplace_back(time, Bytes(c, c + 3));
            }
            if (c[0] == 0x50) {
                int& latch = state[520];
                if ((c[1] & 0x80) != 0) latch = (c[1] >> 4) & 0x07;
                if (latch >= 0) {
                    int& reg = state[512 + static_cast<std::size_t>(latch)];
                    const bool tone = latch % 2 == 0 && latch != 6;
                    const int held = reg < 0 ? 0 : reg;
                    if ((c[1] & 0x80) != 0) reg = tone ? (held & 0x3F0) | (c[1] & 0x0F) : c[1] & 0x0F;
                    else reg = tone ? (held & 0x0F) | ((c[1] & 0x3F) << 4) : c[1] & 0x0F;
                    if (latch == 6) r.acts.emplace_back(time, Bytes(c, c + 2));
                }
            }
            if (wait > 0) {
                time += wait;
                r.states.emplace_back(time, state);
            }
            i += 1 + frame.operands;
        }
    }
    return r;
}

// Writes that change nothing dropped: what the chips hold at every moment, and every
// write that acts whatever its value, as the song has them, on random streams of
// YM2612 and SN76489 writes (a few registers, so that values repeat; latch and data
// bytes; key-ons, F-numbers and their latch, DAC writes, noise) with waits and a loop,
// played through the loop twice: the song comes back to its loop with what its end
// left, not what its start did.
TEST(DroppedWrites, EveryRegisterAsTheSongLeavesIt)
{
    std::uint64_t total = 0, kept = 0;
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        std::uint32_t x = seed * 2654435761u;
        const auto pick = [&x](std::uint32_t n) {
            x = x * 1103515245u + 12345u;
            return (x >> 16) % n;
        };
        VgmBuilder v(0x161, 0x100);
        v.field(0x0C, 3579545).field(0x2C, 7670453);
        static const std::uint8_t regs[] = {0x28, 0x2A, 0x2B, 0x30, 0x40, 0x44, 0x4C, 0x50, 0x80,
                                            0xA0, 0xA1, 0xA4, 0xA5, 0xB0, 0xB4, 0x22, 0x27};
        using songs::u8;
        const unsigned commands = 200 + pick(400);
        for (unsigned n = 0; n < commands; ++n) {
            if (n == commands / 3) v.loopHere();
            switch (pick(5)) {
            case 0:
            case 1:
                v.commands({u8(0x52 + pick(2)), regs[pick(sizeof regs)], u8(pick(3) * 0x11)});
                break;
            case 2:
                v.commands({0x50, u8(pick(2) ? 0x80 | pick(8) << 4 | pick(2) : pick(3))});
                break;
            case 3:
                v.commands({u8(0x70 + pick(16))});
                break;
            default:
                if (pick(3) == 0) v.wait(1 + pick(2000));
                break;
            }
        }
        const Bytes song = v.finish();
        std::uint64_t dropped = 0;
        const Bytes fewer = dropUnchangedWrites(song, dropped);
        const ChipReplay want = replay(song), got = replay(fewer);
        ASSERT_EQ(got.states.size(), want.states.size()) << "seed " << seed;
        for (std::size_t k = 0; k < want.states.size(); ++k) {
            ASSERT_EQ(got.states[k], want.states[k]) << "seed " << seed << ", the registers after wait " << k;
        }
        ASSERT_EQ(got.acts, want.acts) << "seed " << seed;
        total += commands;
        kept += commands - dropped;
        EXPECT_EQ(getLe32(fewer, 0x04) + 4u, fewer.size()) << "seed " << seed;
    }
    std::cout << "dropped writes: " << total - kept << " of " << total << " commands\n";
    EXPECT_GT(total - kept, total / 20); // the streams repeat values often
}

TEST(FitOption, FittingSongsConvertAsWithoutIt)
{
    ScratchDir dir;
    installPlayer(dir.path());
    writeFile(dir / "demo.vgm", readFile(std::string(QUORVEL_SOURCE_DIR) + "/examples/demo.vgm"));
    const RunResult plain = runQuorvel({"demo.vgm", "plain.hes"}, dir.path());
    const RunResult fit = runQuorvel({"-fit", "demo.vgm", "fit.hes"}, dir.path());
    EXPECT_EQ(fit.status, 0);
    EXPECT_EQ(fit.out, plain.out);
    EXPECT_EQ(readFile(dir / "fit.hes"), readFile(dir / "plain.hes"));
}

TEST(FitOption, SongBeyondThirtyOneBanksIsFittedOrRefused)
{
    ScratchDir dir;
    installPlayer(dir.path());
    writeFile(dir / "pcm.vgm", songs::pcmBeyondOneMebibyte(false, 50).song.vgm);
    const RunResult plain = runQuorvel({"pcm.vgm", "plain.hes"}, dir.path());
    EXPECT_NE(plain.out.find("(31 banks): -fit repacks it"), std::string::npos) << plain.out;
    const RunResult fit = runQuorvel({"pcm.vgm", "fit.hes", "-fit"}, dir.path());
    EXPECT_EQ(fit.status, 0);
    EXPECT_NE(fit.out.find("Fitting pcm.vgm: "), std::string::npos) << fit.out;
    EXPECT_LE(readFile(dir / "fit.hes").size(), 0x4000u + 31 * 0x8000u);

    // 600000 frames of a PSG write: no PCM, no write that changes nothing, but the
    // same bytes over and over: played from their first copy.
    VgmBuilder v;
    for (int k = 0; k < 600000; ++k) v.commands({0x50, static_cast<std::uint8_t>(0x90 | (k & 15)), 0x62});
    writeFile(dir / "psg.vgm", v.finish());
    const RunResult repeated = runQuorvel({"-fit", "psg.vgm", "psg.hes"}, dir.path());
    EXPECT_EQ(repeated.status, 0) << repeated.out;
    EXPECT_NE(repeated.out.find("Fitting psg.vgm: 1802240 bytes; "), std::string::npos) << repeated.out;
    EXPECT_NE(repeated.out.find(" repeats played from their first copy\n"), std::string::npos) << repeated.out;
    EXPECT_NE(repeated.out.find("; 106 repeats played from their first copy\n"), std::string::npos) << repeated.out;
    EXPECT_EQ(readFile(dir / "psg.hes").size(), 0x4000u + 0x8000u);

    // Random waits: nothing to repack at all.
    VgmBuilder noise;
    std::uint32_t x = 1;
    for (int k = 0; k < 400000; ++k) {
        x = x * 1103515245u + 12345u;
        noise.commands({0x61, static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x >> 16)});
    }
    writeFile(dir / "noise.vgm", noise.finish());
    const RunResult refused = runQuorvel({"-fit", "noise.vgm", "noise.hes"}, dir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("Error: noise.vgm is 196608 bytes over the 1015808 bytes a HuC6280 player maps, and has "
                               "nothing -fit can repack: no runs of PCM writes, no writes that change nothing, no repeats\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("Converting"), std::string::npos) << refused.out;
    EXPECT_FALSE(std::ifstream(dir / "noise.hes").good());

    // An FM log that writes every channel's instrument again each frame, 60 s of it:
    // no PCM, but most of its writes change nothing (112 registers a frame, written a
    // new value once a second: 112 x 59 x 60 go).
    VgmBuilder fm(0x161, 0x100);
    fm.field(0x2C, 7670453);
    for (int frame = 0; frame < 60 * 60; ++frame) {
        for (std::uint8_t reg = 0x30; reg < 0xA0; ++reg) fm.commands({0x52, reg, static_cast<std::uint8_t>(reg + frame / 60)});
        fm.commands({0x52, 0x28, static_cast<std::uint8_t>(frame % 2 == 0 ? 0xF0 : 0x00), 0x62});
    }
    writeFile(dir / "fm.vgm", fm.finish());
    const RunResult dropped = runQuorvel({"-fit", "fm.vgm", "fm.hes"}, dir.path());
    EXPECT_EQ(dropped.status, 0) << dropped.out;
    EXPECT_NE(dropped.out.find("Fitting fm.vgm: 1245184 bytes; 396480 writes that change nothing dropped\n"),
              std::string::npos)
        << dropped.out;
    EXPECT_LE(readFile(dir / "fm.hes").size(), 0x4000u + 31 * 0x8000u);
}

} // namespace
} // namespace quorvel::test
