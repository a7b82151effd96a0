// quorvel-album's command line: an output path and input paths in; the banner, each
// input's conversion and one HES file of them all with its playlist out.
#include "cli/album.h"

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/convert_file.h"
#include "cli/guard.h"
#include "convert/patch.h"
#include "convert/layout.h"
#include "convert/load.h"
#include "convert/message.h"
#include "convert/samples.h"
#include "hes/album.h"
#include "hes/hes_writer.h"
#include "hes/hucard.h"
#include "hes/playlist.h"

namespace quorvel {
namespace {

struct Song {
    std::string path;
    Bytes image;
    TrackInfo info;
};

// An error line of one song's conversion, naming the song where it does not already.
std::string namingSong(const std::string& line, const std::string& path)
{
    if (line.find(path) != std::string::npos) return line;
    const std::string error = "Error: ";
    if (line.rfind(error, 0) == 0) return error + path + ": " + line.substr(error.size());
    return "Error: " + path + ": " + line;
}

// Why a song was left out: its error line without "Error: ", the song's name before
// what is said of it, and the line end.
std::string reasonOf(const std::string& line, const std::string& path)
{
    std::string reason = line.rfind("Error: ", 0) == 0 ? line.substr(7) : line;
    for (const std::string& lead : {path + " is ", path + ": ", path + " "}) {
        if (reason.rfind(lead, 0) == 0) {
            reason.erase(0, lead.size());
            break;
        }
    }
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    return reason;
}

// Converts one input as quorvel -raw would (with -fit, fitted as far as `step` says,
// playing the samples `samples` holds from there), printing the same lines, and
// keeps its image without the fill of its last pages; after an error line naming the
// song, false with the reason in `failure`. The song's own samples then join
// `samples`, the song standing `start` bytes into the album's images.
bool convertSong(Song& song, ConversionFlags flags, FitStep step, SampleLibrary* samples, std::size_t start,
                 const char* glyph, std::FILE* console, std::string& failure)
{
    ConversionJob job;
    job.samples = samples;
    job.inputPath = song.path;
    job.flags = flags;
    job.console = console;
    job.glyph = glyph;
    try {
        loadInputImage(job);
        song.info = readTrackInfo(job.inputImage);
        if ((flags & kFlagFit) != 0) {
            convertFitted(job, step);
        } else {
            convertImage(job);
        }
    } catch (const ConversionError& error) {
        const std::string line = namingSong(error.what(), song.path);
        std::fputs(line.c_str(), console);
        failure = reasonOf(error.what(), song.path);
        return false;
    }
    song.image = albumImage(imageBytes(job));
    if (samples != nullptr) samples->add(song.image, start, job.pcmBlocks);
    return true;
}

// The album's game and author: the first song's that has them.
std::string firstOf(const std::vector<Song>& songs, std::string TrackInfo::*english, std::string TrackInfo::*japanese)
{
    for (const Song& song : songs) {
        if (!(song.info.*english).empty()) return song.info.*english;
        if (!(song.info.*japanese).empty()) return song.info.*japanese;
    }
    return std::string();
}

} // namespace

int runAlbum(int argc, char** argv, std::FILE* console)
{
    std::fputs("quorvel-album: VGM to HES album maker for HuC6280 players\n", console);
    std::vector<std::string> paths;
    ConversionFlags flags = 0;
    bool help = false;
    for (int n = 1; n < argc && !help; ++n) {
        const std::string arg = argv[n];
        if (arg == "-version" || arg == "--version") {
            printVersion("quorvel-album", console);
            return 0;
        }
        help = arg == "-h" || arg == "-help" || arg == "-?";
        if (arg == "-fit") flags |= kFlagFit;
        if (arg == "-pce") flags |= kFlagCard;
        if (arg == "-m3u") flags |= kFlagPlaylist; // the album's playlist is written anyway
        if (arg.empty() || arg[0] != '-') paths.push_back(stripQuotes(arg)); // other options are ignored
    }
    if (help || paths.size() < 2) {
        std::fputs("Usage: quorvel-album <output> <input>...\n", console);
        if (!help) return kExitUsage;
        printOptions({"-fit      repack the songs so that the album fits in the 31 banks a HuC6280 maps",
                      "-pce      write a HuCard image (.pce) that plays the album on a PC Engine",
                      "-version  print the program's name and version (also --version)",
                      "-h        print this help (also -help, -?)"},
                     console);
        return 0;
    }
    const std::vector<std::string> inputs(paths.begin() + 1, paths.end());
    const bool card = (flags & kFlagCard) != 0;
    if (inputs.size() > kAlbumMaxSongs) {
        std::string beyond;
        for (std::size_t n = kAlbumMaxSongs; n < inputs.size(); ++n) beyond += (beyond.empty() ? "" : ", ") + inputs[n];
        std::fputs(formatMessage("Error: an album holds at most %zu songs; these inputs do not fit: %s\n",
                                 kAlbumMaxSongs, beyond.c_str())
                       .c_str(),
                   console);
        return 1;
    }
    if (holdsVgm(paths[0])) {
        std::fputs(formatMessage("Error: %s holds a VGM song, and the output comes first: "
                                 "quorvel-album <output> <input>...; nothing was written\n",
                                 paths[0].c_str())
                       .c_str(),
                   console);
        return 1;
    }
    try {
        checkOutput(paths[0], inputs);
        if (!card) checkOutput(playlistPath(paths[0]), inputs);
    } catch (const ConversionError& error) {
        std::fputs(error.what(), console);
        return 1;
    }
    warnAboutOptions(paths[0], flags, console);
    const char* glyph = progressGlyph(console);

    // With -fit, an album beyond the banks is converted again with every song's PCM
    // writes as DAC streams, then with its writes that change nothing dropped too,
    // then with the samples an earlier song holds played from there, then with its
    // repeats played from their first copy.
    std::vector<Song> songs;
    std::vector<bool> failed(paths.size(), false);
    std::vector<std::string> failures(paths.size());
    bool skipped = false;
    std::size_t pages = 0;
    const auto banks = [&pages] { return (pages + kAlbumPagesPerBank - 1) / kAlbumPagesPerBank; };
    for (FitStep step : {FitStep::asNeeded, FitStep::streams, FitStep::streamsAndWrites, FitStep::samples,
                         FitStep::everything}) {
        if (step != FitStep::asNeeded) {
            std::fputs(formatMessage("Fitting the album: %zu banks of 32 KiB, over the %zu a HuC6280 can map; %s\n",
                                     banks(), kAlbumMaxBanks,
                                     step == FitStep::streams ? "every song's PCM writes as DAC streams"
                                     : step == FitStep::streamsAndWrites
                                         ? "every song's PCM writes as DAC streams and its writes that change nothing dropped"
                                     : step == FitStep::samples
                                         ? "every song's PCM writes as DAC streams, its writes that change nothing "
                                           "dropped and each sample kept once"
                                         : "every song's PCM writes as DAC streams, its writes that change nothing "
                                           "dropped, each sample kept once and its repeats played from their first copy")
                           .c_str(),
                       console);
        }
        songs.clear();
        SampleLibrary samples;
        const bool sharing = step == FitStep::samples || step == FitStep::everything;
        pages = 0;
        for (std::size_t n = 1; n < paths.size(); ++n) {
            if (failed[n]) continue; // said once
            Song song{paths[n], Bytes(), TrackInfo()};
            if (convertSong(song, flags, step, sharing ? &samples : nullptr, pages * kAlbumPageSize, glyph, console,
                            failures[n])) {
                pages += song.image.size() / kAlbumPageSize;
                songs.push_back(std::move(song));
            } else {
                failed[n] = true;
                skipped = true;
            }
        }
        if (pages <= kAlbumMaxPages || (flags & kFlagFit) == 0) break;
    }
    if (songs.empty()) {
        std::fputs("Error: no input could be converted; nothing was written\n", console);
        return 1;
    }

    std::string tooLarge;
    pages = 0;
    for (const Song& song : songs) {
        pages += song.image.size() / kAlbumPageSize;
        if (pages > kAlbumMaxPages) tooLarge += (tooLarge.empty() ? "" : ", ") + song.path;
    }
    if (!tooLarge.empty()) {
        std::fputs(formatMessage("Error: the album takes %zu banks of 32 KiB, more than the %zu a HuC6280 can map; "
                                 "these inputs do not fit: %s\n",
                                 banks(), kAlbumMaxBanks, tooLarge.c_str())
                       .c_str(),
                   console);
        return 1;
    }

    std::vector<Bytes> images;
    std::vector<PlaylistEntry> entries;
    std::vector<CardTrack> tracks;
    for (Song& song : songs) {
        entries.push_back(playlistEntry(song.info, song.path));
        tracks.push_back(cardTrack(song.info, song.path));
        images.push_back(std::move(song.image));
    }
    const std::string playlist = playlistText(fileName(paths[0]), firstOf(songs, &TrackInfo::game, &TrackInfo::gameJapanese),
                                              firstOf(songs, &TrackInfo::author, &TrackInfo::authorJapanese), entries);
    try {
        if (card) {
            const Bytes rom = makeHuCard(loadPlayerImage(), images, tracks);
            writeOutputs(paths[0], {pieceOf(rom)}, std::string());
        } else {
            writeAlbum(paths[0], images, playlist);
        }
    } catch (const ConversionError& error) {
        std::fputs(error.what(), console);
        return 1;
    }
    std::fputs("Done!\n", console);
    std::string summary = formatMessage("%s holds %zu of the %zu songs", paths[0].c_str(), images.size(), inputs.size());
    std::string leftOut;
    for (std::size_t n = 1; n < paths.size(); ++n) {
        if (failed[n]) leftOut += (leftOut.empty() ? "; left out: " : "; ") + paths[n] + " (" + failures[n] + ")";
    }
    std::fputs((summary + leftOut + "\n").c_str(), console);
    return skipped ? kExitSkipped : 0;
}

} // namespace quorvel
