// The conversion driver: paths and flags in; the stages run in their fixed order,
// the HES or raw file out, and the process exit status.
#include "cli/convert_file.h"

#include <strings.h>

#include <cstdlib>
#include <vector>

#include "cli/guard.h"
#include "convert/compact.h"
#include "convert/fit.h"
#include "convert/message.h"
#include "convert/layout.h"
#include "convert/load.h"
#include "convert/patch.h"
#include "convert/repeats.h"
#include "convert/samples.h"
#include "convert/track_info.h"
#include "hes/hes_writer.h"
#include "hes/hucard.h"
#include "hes/playlist.h"

namespace quorvel {

bool hasCardName(const std::string& path)
{
    return path.size() >= 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".pce") == 0;
}

std::string songPlaylist(const TrackInfo& info, const std::string& inputPath, const std::string& outputPath)
{
    return playlistText(fileName(outputPath), info.game.empty() ? info.gameJapanese : info.game,
                        info.author.empty() ? info.authorJapanese : info.author, {playlistEntry(info, inputPath)});
}

void convertImage(ConversionJob& job)
{
    prepareHeader(job);
    compactCommands(job);
    if (job.samples != nullptr || job.repeats) {
        SamplesReport report;
        shareSamples(job, job.samples, report);
        job.sharedBlocks = report.shared;
    }
    if (job.repeats) {
        RepeatsReport report;
        packRepeats(job, report);
    }
    layoutBanks(job);
    patchHeader(job);
    for (const std::string& warning : job.warnings) std::fputs(warning.c_str(), job.console);
}

namespace {

// The converted image of the job's input, and what the conversion printed.
std::string convertQuietly(ConversionJob& job)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* console = job.console;
    job.console = open_memstream(&text, &size);
    if (job.console == nullptr) throw ConversionError("Error: Failed to allocate memory\n");
    try {
        convertImage(job);
    } catch (...) {
        std::fclose(job.console);
        std::fwrite(text, 1, size, console); // what it printed before the error line
        std::free(text);
        job.console = console;
        throw;
    }
    std::fclose(job.console);
    job.console = console;
    std::string printed(text, size);
    std::free(text);
    return printed;
}

} // namespace

void convertFitted(ConversionJob& job, FitStep step)
{
    Bytes original = job.inputImage; // compaction works on the input in place
    const SampleLibrary* samples = job.samples; // the size as it was is the song's own
    job.samples = nullptr;
    const std::string printed = convertQuietly(job);
    if (step == FitStep::asNeeded && job.imageSize <= kPlayableImageSize) {
        std::fwrite(printed.data(), 1, printed.size(), job.console);
        return;
    }
    const auto size = static_cast<std::uint32_t>(job.imageSize);
    const auto again = [&job, samples](Bytes image) {
        ConversionJob next;
        next.samples = samples;
        next.inputPath = job.inputPath;
        next.outputPath = job.outputPath;
        next.flags = job.flags;
        next.console = job.console;
        next.glyph = job.glyph;
        next.inputLength = static_cast<std::uint32_t>(image.size());
        next.inputImage = std::move(image);
        return next;
    };

    FitReport report;
    Bytes fitted = fitPcmRuns(original, report);
    original = Bytes();
    ConversionJob refit = again(fitted);
    std::string refitted = convertQuietly(refit);
    std::uint64_t dropped = 0;
    Bytes fewer;
    if (refit.imageSize > kPlayableImageSize || step >= FitStep::streamsAndWrites) {
        fewer = dropUnchangedWrites(fitted, dropped);
        if (dropped > 0) {
            refit = again(fewer);
            refitted = convertQuietly(refit);
        }
    }
    if (refit.imageSize > kPlayableImageSize || step == FitStep::everything) {
        // Dropped writes can break a repeat (a bar whose writes went where it came
        // first, and stayed where it comes again): repeats are found with and
        // without them, and the smaller image is kept.
        ConversionJob repeated = again(std::move(fitted));
        repeated.repeats = true;
        std::string printed = convertQuietly(repeated);
        if (dropped > 0) {
            ConversionJob fewerRepeated = again(std::move(fewer));
            fewerRepeated.repeats = true;
            std::string fewerPrinted = convertQuietly(fewerRepeated);
            if (fewerRepeated.imageSize < repeated.imageSize) {
                repeated = std::move(fewerRepeated);
                printed = std::move(fewerPrinted);
            } else {
                dropped = 0;
            }
        }
        refit = std::move(repeated);
        refitted = std::move(printed);
    }
    fitted = Bytes();
    fewer = Bytes();

    // What was done: counted for the Fitting line, in words for the error line.
    std::vector<std::string> done, tried;
    if (report.runs > 0) {
        done.push_back(formatMessage("its %llu PCM writes play as %u DAC streams",
                                     static_cast<unsigned long long>(report.samples), report.runs));
        tried.push_back("its PCM writes as DAC streams");
    }
    if (dropped > 0) {
        done.push_back(formatMessage("%llu writes that change nothing dropped", static_cast<unsigned long long>(dropped)));
        tried.push_back("its writes that change nothing dropped");
    }
    if (refit.sharedBlocks > 0) {
        done.push_back(formatMessage("%u sample blocks played from an earlier song's copy", refit.sharedBlocks));
        tried.push_back("its samples played from an earlier song's copy");
    }
    if (!refit.replays.empty()) {
        done.push_back(formatMessage("%zu repeats played from their first copy", refit.replays.size()));
        tried.push_back("its repeats played from their first copy");
    }
    if (refit.imageSize > kPlayableImageSize) {
        const auto over = static_cast<std::uint32_t>(refit.imageSize - kPlayableImageSize);
        if (done.empty()) {
            throw ConversionError(formatMessage("Error: %s is %u bytes over the %u bytes a HuC6280 player maps, and has "
                                                "nothing -fit can repack: no runs of PCM writes, no writes that change nothing, no repeats\n",
                                                job.inputPath.c_str(), over, kPlayableImageSize));
        }
        std::string line = formatMessage("Error: %s is %u bytes over the %u bytes a HuC6280 player maps, even with ",
                                         job.inputPath.c_str(), over, kPlayableImageSize);
        for (std::size_t n = 0; n < tried.size(); ++n) {
            line += (n == 0 ? "" : n + 1 == tried.size() ? " and " : ", ") + tried[n];
        }
        throw ConversionError(line + "\n");
    }
    if (!done.empty()) {
        std::string line = formatMessage("Fitting %s: %u bytes", job.inputPath.c_str(), size);
        for (const std::string& step : done) line += "; " + step;
        std::fputs((line + "\n").c_str(), job.console);
    }
    std::fwrite(refitted.data(), 1, refitted.size(), job.console);
    refit.playlist = std::move(job.playlist);
    job = std::move(refit);
}

void warnAboutOptions(const std::string& outputPath, ConversionFlags flags, std::FILE* console)
{
    const bool card = (flags & kFlagCard) != 0;
    if ((flags & kFlagPlaylist) != 0 && (flags & kFlagRaw) != 0) {
        std::fputs("Warning: -m3u writes no playlist with -raw; none is written\n", console);
    } else if ((flags & kFlagPlaylist) != 0 && card) {
        std::fputs("Warning: -m3u writes no playlist beside a HuCard image; none is written\n", console);
    }
    if (!card && hasCardName(outputPath)) {
        std::fputs(formatMessage("Warning: %s is written as an HES file; -pce writes a HuCard image\n",
                                 outputPath.c_str())
                       .c_str(),
                   console);
    }
}

int convertFile(const std::string& inputPath, const std::string& outputPath,
                ConversionFlags flags, std::FILE* console, const char* glyph)
{
    ConversionJob job;
    job.inputPath = inputPath;
    job.outputPath = outputPath;
    job.flags = flags;
    job.console = console;
    job.glyph = glyph;
    try {
        const bool card = (flags & kFlagCard) != 0;
        if (card && (flags & kFlagRaw) != 0) {
            throw ConversionError("Error: -pce writes a HuCard image, -raw the converted image alone: use one of them\n");
        }
        const bool playlist = (flags & kFlagPlaylist) != 0 && (flags & kFlagRaw) == 0 && !card;
        warnAboutOptions(outputPath, flags, console);
        checkOutput(outputPath, {inputPath});
        if (playlist) checkOutput(playlistPath(outputPath), {inputPath});
        loadInputImage(job);
        TrackInfo info;
        if (card || playlist) info = readTrackInfo(job.inputImage);
        if (playlist) job.playlist = songPlaylist(info, inputPath, outputPath);
        if ((flags & kFlagFit) != 0) {
            convertFitted(job);
        } else {
            convertImage(job);
        }
        if (card) {
            const Bytes rom = makeHuCard(loadPlayerImage(), {imageBytes(job)}, {cardTrack(info, inputPath)});
            writeOutputs(outputPath, {pieceOf(rom)}, job.playlist);
            std::fputs("Done!\n", console);
        } else {
            writeHesFile(job);
        }
    } catch (const ConversionError& error) {
        std::fputs(error.what(), console);
        return 1;
    }
    return 0;
}

} // namespace quorvel
