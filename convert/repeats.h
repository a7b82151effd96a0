// Stretches played again: the packed stream in; the same stream out with each
// stretch of whole commands that stands earlier already replaced by a REPLAY command
// that plays the earlier one, and the REPLAY commands listed for bank layout.
#pragma once

#include <cstdint>

#include "convert/job.h"

namespace quorvel {

// REPLAY t0 t1 (t2 | n1 << 4) n0: plays the stretch at image offset t (20 bits) up to
// the n-th (12 bits) STRETCH_END met in it, then goes on after itself. The player
// takes them only in an image whose header byte 0x08 is kRepeatsMark.
constexpr std::uint8_t kCmdReplay = 0xE1;
constexpr std::uint8_t kCmdStretchEnd = 0x96;
constexpr std::uint8_t kRepeatsMark = 0x53;
constexpr std::size_t kReplayLength = 5;
// Stretches played inside stretches played: the player keeps this many places to
// come back to.
constexpr unsigned kMaxReplayDepth = 8;
// The commands a stretch spans at its own level, so that its STRETCH_END count never
// passes 12 bits.
constexpr std::uint32_t kMaxStretchCommands = 4000;

struct RepeatsReport {
    std::uint32_t replays = 0;     // REPLAY commands written
    std::uint32_t stretchEnds = 0; // STRETCH_END commands written
    std::uint64_t before = 0;      // bytes of the commands before and after
    std::uint64_t after = 0;
};

// How deep stretches nest and how many bytes a REPLAY must save at least. A REPLAY
// and its return take the player some 600 cycles: stretches of 128 bytes or more
// keep that to a few percent of their own commands' time, and pack about as well as
// short ones do once they nest (measured on the FM and PCM test songs: 12-35% of the
// commands left at 16, 32, 64 or 128 bytes, with 30-50 times fewer REPLAYs at 128).
// Nor may a stretch make the player run more than one REPLAY in `samplesPerReplay`
// samples of song time (2.9 ms: some 3% of its time), the nested ones counted.
struct RepeatsLimits {
    unsigned depth = kMaxReplayDepth;
    std::uint32_t minSaved = 128;
    std::uint32_t samplesPerReplay = 128;
};

// Rewrites job.packedStream (its length and loop mark with it) and fills job.replays.
// A stretch starts and ends at command boundaries, holds no data block, end of data
// or bank-end command, and never spans the loop point. REPLAY and STRETCH_END
// commands the song had of its own are dropped: they do nothing on the chips played.
// Leaves the job as it was when nothing repeats.
void packRepeats(ConversionJob& job, RepeatsReport& report, const RepeatsLimits& limits = RepeatsLimits());

} // namespace quorvel
