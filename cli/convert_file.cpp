// The conversion driver: paths and flags in; the stages run in their fixed order,
// the HES or raw file out, and the process exit status.
#include "cli/convert_file.h"

#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/load.h"
#include "convert/patch.h"
#include "convert/track_info.h"
#include "hes/hes_writer.h"
#include "hes/playlist.h"

namespace quorvel {

std::string songPlaylist(const TrackInfo& info, const std::string& inputPath, const std::string& outputPath)
{
    return playlistText(fileName(outputPath), info.game.empty() ? info.gameJapanese : info.game,
                        info.author.empty() ? info.authorJapanese : info.author, {playlistEntry(info, inputPath)});
}

void convertImage(ConversionJob& job)
{
    prepareHeader(job);
    compactCommands(job);
    layoutBanks(job);
    patchHeader(job);
    for (const std::string& warning : job.warnings) std::fputs(warning.c_str(), job.console);
}

int convertFile(const std::string& inputPath, const std::string& outputPath,
                ConversionFlags flags, std::FILE* console)
{
    ConversionJob job;
    job.inputPath = inputPath;
    job.outputPath = outputPath;
    job.flags = flags;
    job.console = console;
    try {
        loadInputImage(job);
        if ((flags & kFlagPlaylist) != 0 && (flags & kFlagRaw) == 0) {
            job.playlist = songPlaylist(readTrackInfo(job.inputImage), inputPath, outputPath);
        }
        convertImage(job);
        writeHesFile(job);
    } catch (const ConversionError& error) {
        std::fputs(error.what(), console);
        return 1;
    }
    return 0;
}

} // namespace quorvel
