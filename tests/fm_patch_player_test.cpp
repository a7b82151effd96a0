// FM patches one held note each (1.2 s keyed, 0.6 s released), the HES's PSG channel
// against the VGM's "FM 1" in libgme: the level over the note, the loudness per 10 ms
// and the semitone spectra. Fields are swept over their whole range, one at a time
// from a patch real drivers write and at random over all of them.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>

#include "tests/audio.h"
#include "tests/support.h"
#include "tools/render.h"
#include "tools/ym_songs.h"

namespace quorvel::test {
namespace {

struct NoteFigures {
    double level = 0;    // dB, the HES's less the VGM's
    double envelope = 1; // correlation of the loudness per 10 ms
    double spectrum = 1; // median correlation of the semitone spectra per 10 ms
    bool audible = true; // the VGM's note is above -67 dBFS
    double vgmDb = 0;    // the VGM's level, dBFS
};

const double kFullScaleDb = 20 * std::log10(65536.0); // left plus right at full swing

double powerDb(const std::vector<double>& s, long from, std::size_t count)
{
    const double r = from < 0 ? 0.0 : rms(s, static_cast<std::size_t>(from), count);
    return 20 * std::log10(std::max(r, 1e-6));
}

// Each patch converted and rendered, the HES against the VGM.
std::vector<NoteFigures> playPatches(const std::vector<songs::HeldPatch>& patches)
{
    ScratchDir dir;
    writeFile(dir / "drovan_huc6280.bin", readFile(QUORVEL_PLAYER_IMAGE));
    std::vector<NoteFigures> figures;
    const auto alone = [](const std::string& name) { return [name](const std::string& v) { return v == name; }; };
    for (std::size_t n = 0; n < patches.size(); ++n) {
        const songs::Song song = songs::heldNote(patches[n], "patch" + std::to_string(n));
        writeFile(dir / (song.name + ".vgm"), song.vgm);
        const RunResult run = runQuorvel({song.name + ".vgm", song.name + ".hes"}, dir.path());
        EXPECT_EQ(run.status, 0) << run.out;
        const std::vector<double> vgm = mono(renderVoices(dir / (song.name + ".vgm"), song.seconds, alone("FM 1")));
        const std::vector<double> hes =
            mono(renderVoices(dir / (song.name + ".hes"), song.seconds + 0.1, alone("Wave 1")));
        NoteFigures f;
        const std::size_t count = vgm.size();
        f.audible = powerDb(vgm, 0, count) > kFullScaleDb - 67;
        const long lag = f.audible ? lagOf(vgm, hes, 60, 5) : 0;
        f.level = powerDb(hes, 0, count) - powerDb(vgm, 0, count);
        f.vgmDb = powerDb(vgm, 0, count) - kFullScaleDb;
        if (f.audible) {
            // Loudness in dB per 10 ms, 60 dB under full scale at least.
            std::vector<double> a, b;
            constexpr std::size_t kTenMs = kRenderRate / 100;
            for (std::size_t at = 0; at + kTenMs <= count; at += kTenMs) {
                a.push_back(std::max(powerDb(vgm, static_cast<long>(at), kTenMs), kFullScaleDb - 60));
                b.push_back(std::max(powerDb(hes, static_cast<long>(at) + lag, kTenMs), kFullScaleDb - 60));
            }
            f.envelope = correlation(a, b);
            std::size_t windows = 0;
            f.spectrum = medianSpectralCorrelation(vgm, hes, lag, windows);
        }
        figures.push_back(f);
    }
    return figures;
}

// How many of `figures` are right on level (within 3 dB), on envelope (0.9) and on
// spectrum (0.85), and how many are 10 dB or more under; printed under `name`.
struct Shares {
    std::size_t notes = 0, level = 0, under = 0, envelope = 0, spectrum = 0, all = 0;
};

Shares tally(const std::string& name, const std::vector<NoteFigures>& figures)
{
    Shares s;
    for (const NoteFigures& f : figures) {
        if (!f.audible) continue;
        ++s.notes;
        const bool level = std::fabs(f.level) <= 3, envelope = f.envelope >= 0.9, spectrum = f.spectrum >= 0.85;
        s.level += level;
        s.under += f.level <= -10;
        s.envelope += envelope;
        s.spectrum += spectrum;
        s.all += level && envelope && spectrum;
    }
    std::cout << name << ": " << s.notes << " notes, level within 3 dB " << s.level << ", 10 dB or more under "
              << s.under << ", envelope >= 0.9 " << s.envelope << ", spectrum >= 0.85 " << s.spectrum
              << ", all three " << s.all << "\n";
    return s;
}

// A patch of `algorithmFeedback` (0xB0) and the operators' registers 0x30-0x90.
songs::HeldPatch patchOf(unsigned algorithmFeedback, const unsigned (&ops)[4][7])
{
    songs::HeldPatch p;
    p.algorithmFeedback = algorithmFeedback;
    std::copy(&ops[0][0], &ops[0][0] + 28, &p.ops[0][0]);
    return p;
}

// Algorithm 5, feedback 6, as a real pad sets it: S1 at multiple 0 modulates three
// carriers that attack and decay at rate 31 to sustain level 0 and hold.
songs::HeldPatch organPad()
{
    songs::HeldPatch p = patchOf(6 << 3 | 5, {{0x10, 19, 31, 14, 0, 0x47, 0},
                                              {0x51, 18, 31, 31, 0, 0x07, 0},
                                              {0x00, 42, 31, 31, 0, 0x07, 0},
                                              {0x11, 18, 31, 31, 0, 0x07, 0}});
    p.fnum = 813;
    p.block = 2;
    return p;
}

// Two sine carriers (algorithm 4, the modulators silent), at levels 0 and 12.
songs::HeldPatch twoSines()
{
    return patchOf(4, {{0x01, 127, 31, 0, 0, 0x07, 0},
                       {0x01, 0, 31, 0, 0, 0x07, 0},
                       {0x01, 127, 31, 0, 0, 0x07, 0},
                       {0x02, 12, 31, 0, 0, 0x07, 0}});
}

// Every first decay rate of the carriers (0-31), to sustain levels 0, 4 and 15, and
// the pad itself: each note at the chip's level and envelope. At rate 31 the carriers
// fell 11-34 dB under the chip after their attack (the decay stepped past the sustain
// level and stayed there); the pad played 32 dB under it (-3.4 dB now). Measured:
// sustain levels 0 and 4 at every rate, 15 at rates 0-10, within 0.7 dB, envelope
// 0.99 or better. Notes that decay to sustain level 15 at rates 11 and more fall under
// the quietest the player gives a fading note (48 dB down) within 0.3 s and stop
// there, where the chip goes on falling: their figures are printed.
TEST(FmPatches, FirstDecayStopsAtTheSustainLevel)
{
    std::vector<songs::HeldPatch> patches;
    for (unsigned sustain : {0u, 4u, 15u}) {
        for (unsigned rate = 0; rate < 32; ++rate) {
            songs::HeldPatch p = twoSines();
            for (unsigned op : {1u, 3u}) {
                p.ops[op][3] = rate;
                p.ops[op][5] = sustain << 4 | 7;
            }
            patches.push_back(p);
        }
    }
    patches.push_back(organPad());
    const std::vector<NoteFigures> figures = playPatches(patches);
    for (std::size_t n = 0; n + 1 < figures.size(); ++n) {
        if (!figures[n].audible) continue;
        const std::string what = "sustain level " + std::to_string(n / 32 == 0 ? 0 : n / 32 == 1 ? 4 : 15) +
                                 ", first decay rate " + std::to_string(n % 32);
        if (n >= 64 + 11) continue; // notes that fall to silence within 0.3 s: see below
        EXPECT_LT(std::fabs(figures[n].level), 3.0) << what;
        EXPECT_GE(figures[n].envelope, 0.9) << what;
    }
    tally("first decay rates 0-31 to sustain levels 0, 4, 15", figures);
    const NoteFigures& pad = figures.back();
    std::cout << "the pad: level " << pad.level << " dB, envelope " << pad.envelope << ", spectrum " << pad.spectrum
              << "\n";
    EXPECT_LT(std::fabs(pad.level), 4.0);
    EXPECT_GE(pad.envelope, 0.9);
}

// A carrier quiet by its total level (16-48) that falls from sustain level 0 at second
// decay rates 8-24, as percussive patches do: the chip plays the quietest step of its
// output (about -64 dBFS in libgme) until the note is some 75 dB down, and so does the
// HES while the note is held. Before, the note stopped 24 dB under its level, up to
// 150 ms before the chip's: 5 of the 19 audible notes reached envelope 0.9, 12 now
// (the fastest rates and a few others still end early or late by a few frames).
TEST(FmPatches, QuietNoteHoldsTheQuietestStepThroughItsDecay)
{
    std::vector<songs::HeldPatch> patches;
    for (unsigned level : {16u, 24u, 32u, 40u, 48u}) {
        for (unsigned rate : {8u, 12u, 16u, 20u, 24u}) {
            songs::HeldPatch p = twoSines();
            p.ops[1][1] = 127;
            p.ops[3][1] = level;
            p.ops[3][3] = 11;
            p.ops[3][4] = rate;
            p.ops[3][5] = 0x0F;
            patches.push_back(p);
        }
    }
    const std::vector<NoteFigures> figures = playPatches(patches);
    for (std::size_t n = 0; n < figures.size(); ++n) {
        if (!figures[n].audible) continue;
        const std::string what = "total level " + std::to_string(16 + 8 * (n / 5)) + ", second decay rate " +
                                 std::to_string(8 + 4 * (n % 5));
        EXPECT_LT(std::fabs(figures[n].level), 3.0) << what;
        if (figures[n].envelope < 0.9) std::cout << what << ": envelope " << figures[n].envelope << "\n";
    }
    const Shares s = tally("quiet carriers through their second decay", figures);
    EXPECT_GE(s.envelope, s.notes * 6 / 10);
}

// A sine carrier at every total level (0-127): each at the chip's level, within 3.5 dB,
// as long as the chip sounds it (to 99). The chip's output has 9 bits: from level 64
// (48 dB down) it plays one step of it, about -64 dBFS in libgme, whatever the level,
// to 99. Measured: within 0.1-1.0 dB to level 59, -1.7 to +2.9 dB beyond. Before, the
// note fell silent from level 62 on.
TEST(FmPatches, EveryTotalLevel)
{
    std::vector<songs::HeldPatch> patches;
    for (unsigned level = 0; level < 128; ++level) {
        songs::HeldPatch p = twoSines();
        p.ops[1][1] = 127;
        p.ops[3][1] = level;
        patches.push_back(p);
    }
    const std::vector<NoteFigures> figures = playPatches(patches);
    for (std::size_t n = 0; n < figures.size(); ++n) {
        if (!figures[n].audible) continue;
        EXPECT_LT(std::fabs(figures[n].level), 3.5) << "total level " << n;
        if (figures[n].vgmDb > -57) { // above the floor of the loudness curves
            EXPECT_GE(figures[n].envelope, 0.9) << "total level " << n;
        }
    }
    tally("total levels 0-127", figures);
}

// A patch as drivers write a plain lead: algorithm 2 (S1 and S2 into S3, into S4),
// feedback 5, modulators at multiples 1 and 2 over the carrier at 1, moderate rates.
songs::HeldPatch neutralLead()
{
    return patchOf(5 << 3 | 2, {{0x01, 36, 31, 10, 2, 0x36, 0},
                                {0x02, 40, 31, 10, 2, 0x36, 0},
                                {0x01, 38, 31, 10, 2, 0x36, 0},
                                {0x01, 6, 31, 8, 2, 0x26, 0}});
}

// Register r of operator `op` with `value` in the bits `mask` (shifted to them).
void setField(songs::HeldPatch& p, unsigned op, unsigned r, unsigned mask, unsigned value)
{
    unsigned shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    p.ops[op][r] = (p.ops[op][r] & ~mask) | ((value << shift) & mask);
}

// The organ pad, two octaves up, with S1's first decay rate 0-31 to sustain levels 2, 4
// and 8: the chip's timbre goes purer as S1 falls through the held note, and the wave
// moves with it 440 ms in. Measured: spectrum >= 0.85 for 69 of the 96 notes with one
// wave a note (its modulators as 73 ms in), 79 now; level within 3 dB and envelope
// 0.9 or better for every note either way.
TEST(FmPatches, TimbreFollowsAModulatorThroughAHeldNote)
{
    std::vector<songs::HeldPatch> patches;
    for (unsigned sustain : {2u, 4u, 8u}) {
        for (unsigned rate = 0; rate < 32; ++rate) {
            songs::HeldPatch p = organPad();
            p.block = 4; // two octaves up: the 32 steps' images out of the spectra's band
            p.ops[0][3] = rate;
            p.ops[0][5] = sustain << 4 | 7;
            patches.push_back(p);
        }
    }
    const std::vector<NoteFigures> figures = playPatches(patches);
    for (std::size_t n = 0; n < figures.size(); ++n) {
        EXPECT_LT(std::fabs(figures[n].level), 3.0) << "S1 sustain level " << (n < 32 ? 2 : n < 64 ? 4 : 8)
                                                    << ", first decay rate " << n % 32;
    }
    const Shares s = tally("the organ pad's S1 through a held note", figures);
    EXPECT_GE(s.spectrum, 75u);
    EXPECT_EQ(s.envelope, s.notes);
}

// Each field over its whole range, one at a time from the lead (on every operator,
// carriers and modulators alike): attack, first and second decay and release rates,
// sustain level, key scaling at every block, multiple, detune, feedback, algorithm.
// Measured: 241 of 247 notes within 3 dB of the chip's level (95% held), envelope 0.9
// or better 234 (90% held); what misses: attack rate 1 (14 dB under: the chip takes
// seconds to rise), block 0 (5 dB under: the note is under the PSG's lowest, 27 Hz),
// release rates 0-4 (the chip barely moves in the 0.6 s of release, and the
// envelope's correlation reads the noise), key scaling 3 at blocks 5-7 (decays 0.6-0.8).
// The same sweeps from a lead of two modulated carriers (algorithm 4) found it 4-5 dB
// under the chip at every value: not yet mended.
TEST(FmPatches, EachFieldOverItsRange)
{
    struct Field {
        const char* name;
        unsigned r, mask, count;
    };
    const Field fields[] = {{"attack rate", 2, 0x1F, 32}, {"first decay rate", 3, 0x1F, 32},
                            {"second decay rate", 4, 0x1F, 32}, {"release rate", 5, 0x0F, 16},
                            {"sustain level", 5, 0xF0, 16}, {"multiple", 0, 0x0F, 16},
                            {"detune", 0, 0x70, 8}};
    std::vector<songs::HeldPatch> patches;
    std::vector<std::string> names;
    for (const Field& f : fields) {
        for (unsigned v = 0; v < f.count; ++v) {
            songs::HeldPatch p = neutralLead();
            for (unsigned op = 0; op < 4; ++op) setField(p, op, f.r, f.mask, v);
            patches.push_back(p);
            names.push_back(std::string(f.name) + " " + std::to_string(v));
        }
    }
    for (unsigned ks = 0; ks < 4; ++ks) {
        for (unsigned block = 0; block < 8; ++block) {
            songs::HeldPatch p = neutralLead();
            for (unsigned op = 0; op < 4; ++op) setField(p, op, 2, 0xC0, ks);
            for (unsigned op = 0; op < 4; ++op) p.ops[op][3] = 16; // key scaling shows on decays
            p.block = block;
            patches.push_back(p);
            names.push_back("key scale " + std::to_string(ks) + " block " + std::to_string(block));
        }
    }
    for (unsigned v = 0; v < 64; ++v) {
        songs::HeldPatch p = neutralLead();
        p.algorithmFeedback = v;
        patches.push_back(p);
        names.push_back("feedback " + std::to_string(v >> 3) + " algorithm " + std::to_string(v & 7));
    }
    const std::vector<NoteFigures> figures = playPatches(patches);
    for (std::size_t n = 0; n < figures.size(); ++n) {
        if (figures[n].audible && (std::fabs(figures[n].level) > 3 || figures[n].envelope < 0.9)) {
            std::cout << names[n] << ": level " << figures[n].level << " dB, envelope " << figures[n].envelope << "\n";
        }
    }
    const Shares s = tally("each field over its range", figures);
    EXPECT_GE(s.level, s.notes * 95 / 100);
    EXPECT_LE(s.under, 1u); // attack rate 1: the chip's attack takes seconds
    EXPECT_GE(s.envelope, s.notes * 90 / 100);
}

// Patches drawn at random over every field (every algorithm and feedback, every rate,
// level, multiple and detune of every operator), at random notes: the shares printed
// and held where they stand (timbre, 7 of 102 spectra at 0.85, is the open work).
TEST(FmPatches, RandomOverEveryField)
{
    std::mt19937 random(35);
    const auto pick = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::vector<songs::HeldPatch> patches;
    while (patches.size() < 120) {
        songs::HeldPatch p;
        p.algorithmFeedback = pick(64);
        for (unsigned op = 0; op < 4; ++op) {
            p.ops[op][0] = pick(128);
            p.ops[op][1] = pick(4) == 0 ? pick(128) : pick(48); // drivers keep most levels up
            p.ops[op][2] = pick(4) << 6 | (pick(3) == 0 ? pick(32) : 16 + pick(16));
            p.ops[op][3] = pick(32);
            p.ops[op][4] = pick(32);
            p.ops[op][5] = pick(256);
        }
        p.fnum = 600 + pick(700);
        p.block = 2 + pick(4);
        patches.push_back(p);
    }
    const Shares s = tally("random patches", playPatches(patches));
    EXPECT_GE(s.level, s.notes * 85 / 100); // 89 of 102 measured
    EXPECT_LE(s.under, s.notes * 3 / 100);  // 1
    EXPECT_GE(s.envelope, s.notes * 50 / 100); // 58: short and fading notes
}

} // namespace
} // namespace quorvel::test
