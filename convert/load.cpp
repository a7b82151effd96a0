// Loading: a VGM file, plain or gzip-compressed, in; the job's input image (with room
// for one byte more, which compaction may need) and input length out.
#include "convert/load.h"

#include <sys/stat.h>
#include <zlib.h>
#ifdef QUORVEL_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "convert/bytes.h"
#include "convert/message.h"

namespace quorvel {
namespace {

constexpr char kMagic[4] = {'V', 'g', 'm', ' '};
constexpr unsigned kChunkSize = 16384;            // bytes asked of each gzread
constexpr std::size_t kStagingBlock = std::size_t{8} << 20;
constexpr std::uint64_t kMaxDeflateRatio = 1032; // output bytes per input byte, at most

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Opens a file for reading; a directory counts as a file that cannot be opened.
std::FILE* openForReading(const std::string& path)
{
    if (isDirectory(path)) return nullptr;
    return std::fopen(path.c_str(), "rb");
}

ConversionError openError(const ConversionJob& job)
{
    return ConversionError(formatMessage("Error: Failed to open %s\n", job.inputPath.c_str()));
}

ConversionError tooLongError()
{
    return ConversionError(formatMessage(
        "Error: the input is longer than %llu bytes, the most a VGM file can address\n",
        static_cast<unsigned long long>(kMaxInputLength)));
}

const ConversionError readError("Error: Failed to read VGM data\n");

// The magic probe: true when the file starts with "Vgm ".
bool startsWithMagic(const ConversionJob& job)
{
    std::FILE* file = openForReading(job.inputPath);
    if (!file) throw openError(job);
    char head[sizeof kMagic];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == sizeof head && std::memcmp(head, kMagic, sizeof head) == 0;
}

// True when a file name is taken as compressed without looking inside: its last
// character is 'z' or 'Z'.
bool hasCompressedName(const std::string& path)
{
    return !path.empty() && (path.back() == 'z' || path.back() == 'Z');
}

// Takes `image` as the job's input.
void adoptInputImage(ConversionJob& job, Bytes&& image)
{
    if (image.size() > kMaxInputLength) throw tooLongError();
    job.inputLength = static_cast<std::uint32_t>(image.size());
    job.inputImage = std::move(image);
}

// True when the gzip data in `path` ends as a stream should: every member ends with
// its trailer, after which there is nothing, another member, or bytes that are not
// gzip (which gzread ignores). Inflates the whole file, keeping nothing.
bool gzipStreamEnds(const std::string& path)
{
    std::FILE* file = openForReading(path);
    if (!file) return false;
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) {
        std::fclose(file);
        return false;
    }
    static std::uint8_t in[1 << 16];
    static std::uint8_t out[1 << 16];
    bool ended = false;
    bool complete = false;
    for (;;) {
        if (z.avail_in < 2 && !std::feof(file)) {
            std::memmove(in, z.next_in ? z.next_in : in, z.avail_in);
            z.next_in = in;
            z.avail_in += static_cast<uInt>(std::fread(in + z.avail_in, 1, sizeof in - z.avail_in, file));
        }
        if (ended) {
            // After a member: another one, or the end of what gzread reads.
            complete = !(z.avail_in >= 2 && z.next_in[0] == 0x1F && z.next_in[1] == 0x8B);
            if (complete || inflateReset(&z) != Z_OK) break;
            ended = false;
        }
        if (z.avail_in == 0) break; // the data ends inside a member
        z.next_out = out;
        z.avail_out = sizeof out;
        const int result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            ended = true;
        } else if (result != Z_OK && !(result == Z_BUF_ERROR && z.avail_in == 0)) {
            break;
        }
    }
    inflateEnd(&z);
    std::fclose(file);
    return complete;
}

std::uint64_t fileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// The last four bytes of a file, which end a single gzip member with its length.
bool readTrailerLength(const std::string& path, std::uint32_t& length)
{
    std::FILE* file = openForReading(path);
    if (!file) return false;
    std::uint8_t trailer[4];
    const bool ok = std::fseek(file, -4, SEEK_END) == 0 && std::fread(trailer, 1, 4, file) == 4;
    std::fclose(file);
    length = getLe32(trailer);
    return ok;
}

void loadPlain(ConversionJob& job)
{
    std::FILE* file = openForReading(job.inputPath);
    if (!file) throw openError(job);
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{file};

    if (std::fseek(file, 0, SEEK_END) != 0) throw readError;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) throw readError;
    if (static_cast<unsigned long long>(end) > kMaxInputLength) throw tooLongError();

    Bytes image;
    try {
        image.reserve(static_cast<std::size_t>(end) + 1);
        image.resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
        throw ConversionError("Error: Failed to allocate memory\n");
    }
    if (std::fread(image.data(), 1, image.size(), file) != image.size()) throw readError;
    job.inputLength = static_cast<std::uint32_t>(image.size());
    job.inputImage = std::move(image);
}

#ifdef QUORVEL_HAVE_ISAL
// The whole file inflated by ISA-L's igzip (several times faster than zlib), when it
// is nothing but complete, well-formed gzip members: true with `image` filled. ISA-L
// checks each member's CRC and length. Any other file (not gzip, cut, damaged, with
// bytes after its members, beyond the input limit) gives false and is left to zlib,
// whose reading decides what it is. The file is read 1 MiB at a time.
bool inflateWhole(const std::string& path, Bytes& image)
{
    std::uint32_t stored = 0;
    const std::uint64_t largest = fileSize(path) * kMaxDeflateRatio;
    if (largest < 18 * kMaxDeflateRatio || !readTrailerLength(path, stored)) return false;
    std::FILE* file = openForReading(path);
    if (!file) return false;
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{file};

    Bytes in(std::size_t{1} << 20);
    std::size_t from = 0, to = 0; // the unread input in `in`
    const auto refill = [&] {
        std::memmove(in.data(), in.data() + from, to - from);
        to -= from;
        from = 0;
        to += std::fread(in.data() + to, 1, in.size() - to, file);
    };
    // The last member's stored length, a first guess at the whole, believed up to
    // deflate's largest expansion (a byte spare for compaction, one more so that an
    // exact guess needs no growing to see the member's end).
    std::size_t capacity = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(stored, 1 << 16), largest) + 2);
    Bytes out;
    out.resize(capacity);
    std::size_t total = 0;
    inflate_state state;
    for (;;) {
        if (to - from < 18) refill();
        if (from == to) break; // every member read
        const std::uint8_t* member = in.data() + from;
        // A member as zlib takes it: the magic, deflate, no reserved flag bits.
        if (to - from < 18 || member[0] != 0x1F || member[1] != 0x8B || member[2] != 8 || (member[3] & 0xE0) != 0) {
            return false;
        }
        isal_inflate_init(&state);
        state.crc_flag = ISAL_GZIP;
        state.next_in = in.data() + from;
        state.avail_in = static_cast<std::uint32_t>(to - from);
        for (;;) {
            if (total == capacity - 1) { // keep a byte spare for compaction
                if (capacity > kMaxInputLength || capacity > largest) return false;
                capacity = static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{capacity} * 2, largest + 2));
                out.resize(capacity);
            }
            state.next_out = out.data() + total;
            state.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(capacity - 1 - total, 0xFFFFFFFFu));
            const std::uint32_t before = state.avail_out, given = state.avail_in;
            if (isal_inflate(&state) != ISAL_DECOMP_OK) return false;
            total += before - state.avail_out;
            from = static_cast<std::size_t>(state.next_in - in.data());
            if (state.block_state == ISAL_BLOCK_FINISH) break;
            if (state.avail_in == 0) {
                refill();
                if (from == to) return false; // cut inside the member
                state.next_in = in.data() + from;
                state.avail_in = static_cast<std::uint32_t>(to - from);
            } else if (state.avail_out != 0 && state.avail_in == given) {
                return false; // stuck
            }
        }
        if (total > kMaxInputLength) return false;
    }
    out.resize(total);
    image = std::move(out);
    return true;
}
#endif

void loadCompressed(ConversionJob& job)
{
    std::fputs("Unzipping file\n", job.console);
#ifdef QUORVEL_HAVE_ISAL
    Bytes whole;
    if (!isDirectory(job.inputPath) && inflateWhole(job.inputPath, whole)) {
        adoptInputImage(job, std::move(whole));
        return;
    }
#endif
    gzFile gz = isDirectory(job.inputPath) ? nullptr : gzopen(job.inputPath.c_str(), "rb");
    if (!gz) throw ConversionError(formatMessage("Error: Failed to gzopen %s\n", job.inputPath.c_str()));
    gzbuffer(gz, 1u << 17);

    // The decompressed length is known only at the end of the stream. The bytes are
    // gathered in blocks, so that nothing is copied while they arrive and the staging
    // never holds much more than the input itself. The length a single gzip member
    // stores at its end sizes the first block, so that such a file needs no copy at
    // all; it is only a hint, believed up to deflate's largest expansion.
    const std::uint64_t largest = fileSize(job.inputPath) * kMaxDeflateRatio + kChunkSize;
    std::uint32_t stored = 0;
    std::size_t firstBlock = static_cast<std::size_t>(std::min<std::uint64_t>(kStagingBlock, largest));
    if (readTrailerLength(job.inputPath, stored) && stored + std::uint64_t{kChunkSize} <= largest) {
        firstBlock = stored + std::size_t{kChunkSize};
    }
    std::vector<Bytes> staging;
    std::uint64_t total = 0;
    bool damaged = false;
    try {
        for (;;) {
            if (staging.empty() || staging.back().size() + kChunkSize > staging.back().capacity()) {
                staging.emplace_back();
                staging.back().reserve(staging.size() == 1 ? firstBlock : kStagingBlock);
            }
            Bytes& block = staging.back();
            const std::size_t used = block.size();
            block.resize(used + kChunkSize);
            const int got = gzread(gz, block.data() + used, kChunkSize);
            block.resize(used + static_cast<std::size_t>(got > 0 ? got : 0));
            if (got <= 0) {
                damaged = got < 0;
                break;
            }
            total += static_cast<unsigned>(got);
            if (total > kMaxInputLength) break;
        }
    } catch (const std::bad_alloc&) {
        gzclose(gz);
        throw ConversionError(formatMessage("Error: Failed to allocate memory (wanted %llu bytes)\n",
                                            static_cast<unsigned long long>(total) + kChunkSize));
    }
    int zerr = Z_OK;
    gzerror(gz, &zerr);
    const bool compressed = gzdirect(gz) == 0;
    const bool closedClean = gzclose(gz) == Z_OK;
    if (total > kMaxInputLength) throw tooLongError();
    // A cut-off stream usually reads like a short one that zlib reports through
    // gzerror and gzclose. But where the cut falls just as gzread's output buffer
    // fills, gzread ends without an error: so unless the file ends with the length
    // just read (a complete single member), its end is checked once more.
    if (damaged || zerr != Z_OK || !closedClean) throw readError;
    if (compressed && stored != static_cast<std::uint32_t>(total) && !gzipStreamEnds(job.inputPath)) {
        throw readError;
    }

    Bytes image;
    if (staging.size() == 1) {
        image = std::move(staging.front());
    } else {
        try {
            image.reserve(static_cast<std::size_t>(total) + 1);
        } catch (const std::bad_alloc&) {
            throw ConversionError(formatMessage("Error: Failed to allocate memory (wanted %u bytes)\n",
                                                static_cast<std::uint32_t>(total)));
        }
        for (Bytes& block : staging) {
            appendBytes(image, block.data(), block.size());
            block = Bytes();
        }
    }
    adoptInputImage(job, std::move(image));
}

} // namespace

void loadInputImage(ConversionJob& job)
{
    if (!hasCompressedName(job.inputPath) && startsWithMagic(job)) {
        loadPlain(job);
    } else {
        loadCompressed(job);
    }
    // An HES file, a playlist or a text has no business in the converter.
    if (job.inputImage.size() < sizeof kMagic || std::memcmp(job.inputImage.data(), kMagic, sizeof kMagic) != 0) {
        job.inputImage = Bytes();
        throw ConversionError(formatMessage("Error: %s is not a VGM file: it does not begin with \"Vgm \"\n",
                                            job.inputPath.c_str()));
    }
}

} // namespace quorvel
