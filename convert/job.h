// The state of one conversion: paths, flags, every buffer and the positions that
// the stages hand on to each other. The job owns all of it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/bytes.h"
#include "convert/codec.h"

namespace quorvel {

using ConversionFlags = unsigned;
constexpr ConversionFlags kFlagRaw = 8;       // "-raw": the image without HES header and player
constexpr ConversionFlags kFlagPlaylist = 16; // "-m3u": a playlist beside the HES file
constexpr ConversionFlags kFlagFit = 32;      // "-fit": repack a song beyond 31 banks so that it fits
constexpr ConversionFlags kFlagCard = 64;     // "-pce": a HuCard image in place of the HES file

// The progress line's glyph, a shaded block: the byte 0xB1 of the PC code page, or
// U+2592 for a terminal that shows UTF-8.
constexpr char kProgressGlyph[] = "\xB1";
constexpr char kProgressGlyphUtf8[] = "\xE2\x96\x92";

// A failure that ends the conversion. The text is printed as it stands (it carries
// its own line end); the run then exits with status 1.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A run of the converted image: bytes of the packed stream or the bank image, or
// `size` copies of `fill` (when `bytes` is null).
struct ImagePiece {
    const std::uint8_t* bytes;
    std::size_t size;
    std::uint8_t fill;
};

// A REPLAY command of the packed stream: where it stands and where the stretch it
// plays starts. Bank layout writes the stretch's image offset into it.
struct Replay {
    std::uint32_t at;
    std::uint32_t target;
};

class SampleLibrary;

struct ConversionJob {
    std::string inputPath;
    std::string outputPath;
    ConversionFlags flags = 0;
    std::FILE* console = stdout; // where progress, warnings and errors go
    const char* glyph = kProgressGlyph; // each of the progress line's ten glyphs

    Bytes inputImage;          // whole input, decompressed; compacted in place into
    std::uint32_t inputLength = 0; // the packed stream
    Bytes packedStream;        // compacted stream, the input's buffer; kept until written
    Bytes bankImage;           // the header, and with a codec of its own the image
    std::unique_ptr<Codec> codec; // sink into bankImage during bank layout
    std::vector<ImagePiece> imagePieces; // the converted image, in order
    std::size_t imageSize = 0;           // their bytes in all

    std::uint32_t headerSize = 0;
    std::uint32_t loopTarget = 0;       // input position of the loop command
    bool shortReservedWrites = false;   // input older than VGM 1.60
    std::uint32_t packedLength = 0;     // K: bytes used in packedStream
    std::uint32_t loopMark = 0;         // packedStream position of the loop command
    std::uint32_t layoutEnd = 0;        // packedStream position just after the 0x66
    std::uint32_t outputLoopPosition = 0;
    std::uint32_t progressCount = 0;    // glyphs printed on the "Converting" line
    bool repeats = false;               // stretches met before are played again (-fit)
    std::vector<Replay> replays;        // by position, when they are
    const SampleLibrary* samples = nullptr; // the album's songs before this one (-fit):
                                        // the samples they hold are played from there
    std::uint32_t sharedBlocks = 0;     // data blocks played from an earlier song's copy
    std::vector<std::uint32_t> pcmBlocks; // image offset of each YM2612 PCM data block

    std::vector<std::string> warnings;  // printed once the progress line is complete
    std::string playlist;               // M3U text to write beside the HES file, or none
};

} // namespace quorvel
