// The conversion driver: paths and flags in; the stages run in their fixed order,
// the HES or raw file out, and the process exit status.
#pragma once

#include <cstdio>
#include <string>

#include "convert/job.h"
#include "convert/track_info.h"

namespace quorvel {

// The playlist of one song converted from `inputPath` to `outputPath`.
std::string songPlaylist(const TrackInfo& info, const std::string& inputPath, const std::string& outputPath);

// Runs header preparation, compaction, bank layout and the header fix-ups on a job
// whose input image is loaded, then prints the warnings. Throws ConversionError.
void convertImage(ConversionJob& job);

// How far -fit goes: as far as the song needs (a song that fits is converted exactly
// as without the flag), or, for an album beyond its banks, every song's PCM writes as
// DAC streams, and its writes that change nothing dropped too, and its samples that
// an earlier song holds played from there too (job.samples), and its repeats played
// from their first copy too.
enum class FitStep { asNeeded, streams, streamsAndWrites, samples, everything };

// The same, for kFlagFit: a song whose image would pass 31 banks is converted again
// with its runs of PCM writes as DAC streams, then, if it still does not fit, without
// its writes that change nothing, then with its repeats played from their first copy,
// and says so. Throws ConversionError when even that is too large.
void convertFitted(ConversionJob& job, FitStep step = FitStep::asNeeded);

// True when `path` ends in ".pce", in any letter case.
bool hasCardName(const std::string& path);

// The warning lines for options that do less than they seem to: -m3u with -raw or
// -pce (no playlist), an output named .pce without -pce (an HES file all the same).
void warnAboutOptions(const std::string& outputPath, ConversionFlags flags, std::FILE* console);

// Converts one file; with kFlagPlaylist (and neither kFlagRaw nor kFlagCard) writes
// its playlist too.
// Returns 0 on success, 1 after an error line.
int convertFile(const std::string& inputPath, const std::string& outputPath,
                ConversionFlags flags, std::FILE* console = stdout, const char* glyph = kProgressGlyph);

} // namespace quorvel
