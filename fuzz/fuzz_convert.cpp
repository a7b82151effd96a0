// libFuzzer target: arbitrary bytes in, as an input file (plain or gzip); the whole
// conversion from loading to the HES header runs on them, and the playlist that
// -m3u makes of their tag, and -fit's repacking of their PCM, of their samples (as an
// album's second song) and of their repeats, with no output written.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/convert_file.h"
#include "convert/fit.h"
#include "convert/patch.h"
#include "convert/load.h"
#include "convert/samples.h"
#include "hes/hes_writer.h"

// Loading runs on every input; the conversion only on images up to this size. A few
// hundred bytes of gzip inflate to megabytes, and converting those makes an
// execution hundreds of times slower while reaching no code that an image across a
// bank boundary does not.
constexpr std::uint32_t kMaxConvertedLength = 40 * 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::FILE* console = std::fopen("/dev/null", "w");
    struct MemoryFile {
        int fd = memfd_create("quorvel-fuzz", 0);
        ~MemoryFile() { close(fd); }
    } file;
    if (file.fd < 0 || (size > 0 && write(file.fd, data, size) != static_cast<ssize_t>(size))) __builtin_trap();

    quorvel::ConversionJob job;
    job.inputPath = "/proc/self/fd/" + std::to_string(file.fd);
    job.console = console;
    try {
        quorvel::loadInputImage(job);
        if (job.inputLength > kMaxConvertedLength) return 0;
        const std::string playlist = quorvel::songPlaylist(quorvel::readTrackInfo(job.inputImage), "in.vgm", "out.hes");
        if (playlist.find("out.hes::HES,1,") == std::string::npos) __builtin_trap();
        quorvel::FitReport report;
        const quorvel::Bytes fitted = quorvel::fitPcmRuns(job.inputImage, report);
        if (report.runs == 0 && fitted != job.inputImage) __builtin_trap(); // nothing to fit: unchanged
        // -fit's last steps on the same input, as an album's second song: its samples
        // played from the first song's copy (here the input converted as it is) and
        // its repeats from their first copy.
        const quorvel::Bytes original = job.inputImage;
        const std::uint32_t length = job.inputLength;
        quorvel::convertImage(job);
        const auto header = quorvel::makeHesHeader(static_cast<std::uint32_t>(job.imageSize));
        const quorvel::Bytes image = quorvel::imageBytes(job);
        if ((job.imageSize & 0x7FFF) != 0 || image.size() != job.imageSize || header[0x14] != 0xE0) __builtin_trap();
        quorvel::SampleLibrary samples;
        samples.add(image, 0, job.pcmBlocks);
        quorvel::ConversionJob repeated;
        repeated.inputPath = job.inputPath;
        repeated.console = console;
        repeated.inputImage = original;
        repeated.inputLength = length;
        repeated.repeats = true;
        repeated.samples = &samples;
        quorvel::convertImage(repeated);
        if ((repeated.imageSize & 0x7FFF) != 0 || quorvel::imageBytes(repeated).size() != repeated.imageSize) {
            __builtin_trap();
        }
    } catch (const quorvel::ConversionError&) {
    }
    return 0;
}
