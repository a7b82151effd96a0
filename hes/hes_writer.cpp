// HES container: the finished bank image in; the output file out, either the HES
// header, the player image and the bank image, or with "-raw" the bank image alone.
#include "hes/hes_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "convert/message.h"
#include "hes/output_file.h"
#include "hes/playlist.h"

namespace quorvel {
namespace {

constexpr std::uint8_t kHesHeaderTemplate[kHesHeaderSize] = {
    'H', 'E', 'S', 'M',
    0x00,                                     // format version
    0x00,                                     // first song
    0x00, 0x40,                               // init address 0x4000
    0xFF, 0xF8, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, // MPR0-MPR7
    'D', 'A', 'T', 'A',
    0x00, 0x00, 0x00, 0x00,                   // data size, filled in
    0x20, 0x00, 0x00, 0x00,                   // load address
    0x00, 0x00, 0x00, 0x00,                   // reserved
};
constexpr std::size_t kDataSizeField = 0x14;

// The player image: the current directory's whenever there is one (a folder of that
// name counts as none); else the installed copy, <prefix>/share/quorvel beside the
// program's <prefix>/bin; else one beside the program (a build folder).
std::FILE* openPlayerImage()
{
    struct stat st;
    if (::stat(kPlayerImageName, &st) == 0 && !S_ISDIR(st.st_mode)) return std::fopen(kPlayerImageName, "rb");
    char exe[4096];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) return nullptr;
    const std::string program(exe, static_cast<std::size_t>(length));
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    for (const std::string& path : {folder + "../share/quorvel/" + kPlayerImageName, folder + kPlayerImageName}) {
        if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return std::fopen(path.c_str(), "rb");
    }
    return nullptr;
}

// Player image bytes 0x20-0x3FFF; zero where the file is shorter or cannot be read.
Bytes readPlayerImage(std::FILE* file)
{
    Bytes player(kPlayerImageEnd - kHesHeaderSize, 0x00);
    if (std::fseek(file, static_cast<long>(kHesHeaderSize), SEEK_SET) == 0) {
        std::fread(player.data(), 1, player.size(), file);
    }
    return player;
}

} // namespace

std::array<std::uint8_t, kHesHeaderSize> makeHesHeader(std::uint32_t imageSize)
{
    std::array<std::uint8_t, kHesHeaderSize> header;
    std::memcpy(header.data(), kHesHeaderTemplate, kHesHeaderSize);
    const std::uint32_t dataSize = imageSize + static_cast<std::uint32_t>(kPlayerImageEnd - kHesHeaderSize);
    setLe32(header.data() + kDataSizeField, dataSize);
    return header;
}

Bytes loadPlayerImage()
{
    std::FILE* file = openPlayerImage();
    if (!file) throw ConversionError(formatMessage("Error: unable to open %s\n", kPlayerImageName));
    Bytes player = readPlayerImage(file);
    std::fclose(file);
    return player;
}

ImagePiece pieceOf(const Bytes& bytes) { return {bytes.data(), bytes.size(), 0}; }

void writeOutputs(const std::string& path, const std::vector<ImagePiece>& parts, const std::string& playlist)
{
    OutputFile out, list;
    if (!out.open(path)) throw ConversionError(formatMessage("Error: unable to open %s\n", path.c_str()));
    const std::string listPath = playlistPath(path);
    if (!playlist.empty() && !list.open(listPath)) {
        throw ConversionError(formatMessage("Error: unable to open %s\n", listPath.c_str()));
    }
    for (const ImagePiece& part : parts) {
        if (part.bytes != nullptr) {
            out.write(part.bytes, part.size);
            continue;
        }
        std::uint8_t fill[4096];
        std::memset(fill, part.fill, std::min(part.size, sizeof fill));
        for (std::size_t left = part.size; left > 0; left -= std::min(left, sizeof fill)) {
            out.write(fill, std::min(left, sizeof fill));
        }
    }
    if (!out.commit()) throw ConversionError(formatMessage("Error: Failed to write %s\n", path.c_str()));
    if (!playlist.empty() && !(list.write(playlist.data(), playlist.size()) && list.commit())) {
        throw ConversionError(formatMessage("Error: Failed to write %s\n", listPath.c_str()));
    }
}

void writeHesFile(ConversionJob& job)
{
    const bool raw = (job.flags & kFlagRaw) != 0;
    if (raw) {
        std::FILE* playerFile = openPlayerImage(); // must be there, though nothing is read
        if (!playerFile) throw ConversionError(formatMessage("Error: unable to open %s\n", kPlayerImageName));
        std::fclose(playerFile);
        writeOutputs(job.outputPath, job.imagePieces, std::string());
    } else {
        const Bytes player = loadPlayerImage();
        const auto header = makeHesHeader(static_cast<std::uint32_t>(job.imageSize));
        std::vector<ImagePiece> parts = {{header.data(), header.size(), 0}, pieceOf(player)};
        parts.insert(parts.end(), job.imagePieces.begin(), job.imagePieces.end());
        writeOutputs(job.outputPath, parts, job.playlist);
    }
    job.imagePieces.clear();
    job.packedStream = Bytes();
    job.bankImage = Bytes();
    std::fputs("Done!\n", job.console);
}

} // namespace quorvel
