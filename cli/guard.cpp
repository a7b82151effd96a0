// What a run may write over: the paths it reads and writes in; an error line when an
// output would replace one of its inputs, or any file that holds a VGM song.
#include "cli/guard.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstring>

#include "convert/compact.h"
#include "convert/job.h"
#include "convert/message.h"
#include "convert/repeats.h"

namespace quorvel {

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool holdsVgm(const std::string& path)
{
    // Only regular files: a device or a pipe is never read here.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    gzFile gz = gzopen(path.c_str(), "rb"); // gzread passes a plain file through unchanged
    if (gz == nullptr) return false;
    std::uint8_t head[kVersionOffset + 1];
    const int got = gzread(gz, head, sizeof head);
    gzclose(gz);
    if (got < 4 || std::memcmp(head, "Vgm ", 4) != 0) return false;
    // What -raw wrote keeps the header with its version byte rewritten: no song.
    return got < static_cast<int>(sizeof head) ||
           (head[kVersionOffset] != kRewrittenVersionByte && head[kVersionOffset] != kRepeatsMark);
}

void checkOutput(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs) {
        if (sameFile(output, input)) {
            throw ConversionError(formatMessage(
                "Error: the output %s is the input %s itself; nothing was written\n", output.c_str(), input.c_str()));
        }
    }
    if (holdsVgm(output)) {
        throw ConversionError(formatMessage(
            "Error: %s holds a VGM song, which is never written over; nothing was written\n", output.c_str()));
    }
}

} // namespace quorvel
