// Fitting a song into the 31 banks a HuC6280 maps: a VGM image in; the same song
// with its runs of PCM writes played as DAC streams out, and what was changed.
#pragma once

#include <cstdint>

#include "convert/bytes.h"

namespace quorvel {

struct FitReport {
    std::uint32_t runs = 0;       // DAC streams the PCM writes now play as
    std::uint64_t samples = 0;    // the PCM writes in them
    std::uint32_t blockBytes = 0; // the data block made of direct DAC writes' samples
    bool streamsInUse = false;    // the song has DAC streams of its own: nothing changed
};

// Runs of at least kFitMinRun PCM writes of one kind, 0x8n (with no seek between) or
// direct DAC writes (0x52 0x2A), become one DAC stream each, at the run's average
// rate, started where the run's first write was. The other commands of the run stay
// where they were, and its waits, the 0x8n's own included, become waits between
// them. The direct writes' samples form one data block ahead of the song's own, each
// run's samples kept once. Time, the loop point and the tail are kept exactly; a run
// never spans the loop point.
constexpr std::uint32_t kFitMinRun = 64;
Bytes fitPcmRuns(const Bytes& vgm, FitReport& report);

// The song without its YM2612 and SN76489 writes that change nothing: a register
// written the value it holds. What is kept whatever its value: YM2612 key on/off
// (0x28), the DAC and its switch (0x2A, 0x2B), the F-numbers (0xA0-0xAF, whose low
// bytes bring the latched high bits into effect), the SN76489's noise register
// (writing it restarts the noise), and any write to a register a DAC stream writes.
// An SN76489 byte goes only when neither its register's value nor the latch changes.
// What a register holds is unknown at the start and again at the loop point (the song
// comes back there from its end). Time, the loop point and the tail are kept; `dropped`
// counts the writes taken out.
Bytes dropUnchangedWrites(const Bytes& vgm, std::uint64_t& dropped);

} // namespace quorvel
