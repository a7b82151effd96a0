// Repeats played from their first copy: a model of the player reading a converted
// image gives the commands it plays; with repeats they are the commands the image
// without them plays, one for one, and its data bank the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "convert/commands.h"
#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/patch.h"
#include "convert/repeats.h"
#include "tests/image_model.h"
#include "tests/support.h"
#include "tools/repeat_songs.h"

namespace quorvel::test {
namespace {

// The image with repeats played again as far as `limits` allow.
Bytes imageWithRepeats(const Bytes& vgm, const RepeatsLimits& limits)
{
    Console console;
    ConversionJob job;
    loadJob(job, vgm, console.stream());
    prepareHeader(job);
    compactCommands(job);
    RepeatsReport report;
    packRepeats(job, report, limits);
    layoutBanks(job);
    patchHeader(job);
    return imageBytes(job);
}

// Converted with and without repeats: the same commands, through the loop twice.
// Sizes are the commands' bytes (the end-of-file offset).
struct Compared {
    std::size_t plain = 0, packed = 0;
    Played played;
};

Compared compareRepeats(const Bytes& vgm, const std::string& what, const RepeatsLimits& limits = RepeatsLimits())
{
    Compared r;
    const Converted plain = convert(vgm);
    EXPECT_EQ(plain.error, "") << what;
    const Bytes packed = imageWithRepeats(vgm, limits);
    const Played want = play(plain.image, 2);
    r.played = play(packed, 2);
    EXPECT_EQ(want.fault, "") << what;
    EXPECT_EQ(r.played.fault, "") << what;
    EXPECT_EQ(r.played.dataBank, want.dataBank) << what;
    EXPECT_EQ(r.played.commands.size(), want.commands.size()) << what;
    for (std::size_t k = 0; k < std::min(want.commands.size(), r.played.commands.size()); ++k) {
        if (r.played.commands[k] != want.commands[k]) {
            ADD_FAILURE() << what << ": command " << k << " of " << want.commands.size() << " differs";
            break;
        }
    }
    r.plain = getLe32(plain.image, 0x04);
    r.packed = getLe32(packed, 0x04);
    return r;
}

// Songs that repeat bars, parts of bars and sections, some beyond a bank and with the
// loop anywhere: every command as the song has it, stretches played one inside the
// other and across banks, and the images smaller.
TEST(Repeats, PlayEveryCommandAsTheSongDoes)
{
    // As -fit packs them, and with every stretch allowed that saves a byte.
    RepeatsLimits every;
    every.minSaved = 1;
    every.samplesPerReplay = 0;
    for (const RepeatsLimits& limits : {RepeatsLimits(), every}) {
        unsigned deepest = 0, acrossBanks = 0;
        for (std::uint32_t seed = 1; seed <= 12; ++seed) {
            songs::RepeatingSong maker(seed);
            const Bytes vgm = maker.song(20 + seed * 4);
            const std::string what = "seed " + std::to_string(seed) + ", at least " + std::to_string(limits.minSaved);
            const Compared r = compareRepeats(vgm, what, limits);
            EXPECT_LT(r.packed + 4096, r.plain) << what;
            deepest = std::max(deepest, r.played.deepest);
            acrossBanks += r.played.acrossBanks;
        }
        EXPECT_GE(deepest, 3u);
        EXPECT_GT(acrossBanks, 0u);
    }
}

// Random command streams, with no music in them: what repeats by chance (runs of one
// wait, the same write again) is played as it stands, and the song's own bytes that
// read as REPLAY or STRETCH_END are left out.
TEST(Repeats, RandomStreamsPlayAsTheyAre)
{
    for (std::uint32_t seed = 1; seed <= 30; ++seed) {
        songs::RepeatingSong maker(seed + 100);
        VgmBuilder v(0x161, 0x100);
        v.field(0x2C, 7670453);
        for (const Bytes& c : maker.bar(200 + maker.pick(3000))) {
            if (maker.pick(50) == 0) v.commands({songs::u8(maker.pick(2) ? 0x96 : 0xE1), 0x01, 0x02, 0x03, 0x04});
            if (maker.pick(200) == 0) v.loopHere();
            v.commands(c);
        }
        const Bytes vgm = v.finish();
        // The model plays the song's own 0x96 and 0xE1 where there are no repeats:
        // compare without them.
        RepeatsLimits every;
        every.minSaved = 1;
        every.samplesPerReplay = 0;
        const Bytes packed = imageWithRepeats(vgm, every);
        Played want = play(convert(vgm).image, 2), got = play(packed, 2);
        ASSERT_EQ(got.fault, "") << "seed " << seed;
        if (packed[kVersionOffset] == kRepeatsMark) {
            const auto ours = [](const Bytes& c) { return c[0] == kCmdReplay || c[0] == kCmdStretchEnd; };
            want.commands.erase(std::remove_if(want.commands.begin(), want.commands.end(), ours), want.commands.end());
        }
        EXPECT_EQ(got.commands, want.commands) << "seed " << seed;
        EXPECT_EQ(got.dataBank, want.dataBank) << "seed " << seed;
    }
}

// Long songs: a stretch spans up to 4000 commands at its own level, so longer repeats
// are played as several, and the STRETCH_END count stays within its 12 bits.
TEST(Repeats, LongRepeatsAndTheLoopPoint)
{
    songs::RepeatingSong maker(77);
    const std::vector<Bytes> verse = maker.bar(9000);
    VgmBuilder v = songs::ymStart();
    for (int n = 0; n < 3; ++n) {
        for (std::size_t k = 0; k < verse.size(); ++k) {
            if (n == 1 && k == 4321) v.loopHere(); // the loop inside the second verse
            v.commands(verse[k]);
        }
    }
    const Compared r = compareRepeats(v.finish(), "three verses");
    EXPECT_LT(r.packed * 2, r.plain);
}

} // namespace
} // namespace quorvel::test
