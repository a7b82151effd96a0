// Test helpers: running the stages on memory, running the built binary in a scratch
// folder, and small file utilities.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "convert/job.h"
#include "convert/samples.h"
#include "tools/vgm_builder.h"

namespace quorvel::test {

// Captures what a stage prints on its console.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    std::FILE* stream() { return stream_; }
    std::string text();

private:
    std::FILE* stream_;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

// A job whose input image is `input`, as loading leaves it.
void loadJob(ConversionJob& job, const Bytes& input, std::FILE* console);

// Header preparation and compaction only.
struct Packed {
    Bytes stream; // the packed stream up to K
    std::uint32_t loopMark;
    std::vector<std::string> warnings;
};
Packed compact(const Bytes& input);

// The whole in-memory conversion: the finished bank image and the console text; with
// `repeats`, stretches met before played again (-fit's last step).
struct Converted {
    Bytes image;
    std::string console;
    std::string error; // the error line when the conversion failed
};
Converted convert(const Bytes& input, const std::string& path = "in.vgm", bool repeats = false);

// A folder removed at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

struct RunResult {
    int status;
    std::string out;
    std::string err;
};
// Runs `binary` with `args` in folder `cwd`.
RunResult runProgram(const char* binary, const std::vector<std::string>& args, const std::string& cwd);
// Runs the built quorvel, or quorvel-album, with `args` in folder `cwd`.
RunResult runQuorvel(const std::vector<std::string>& args, const std::string& cwd);
RunResult runAlbum(const std::vector<std::string>& args, const std::string& cwd);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
// A copy of the repository's player image in `dir`.
void installPlayer(const std::string& dir);

// A song converted as an album's track that stands `start` bytes into the album's
// images: its samples that `library` holds played from there (and with `repeats`, its
// repeats from their first copy), the image as the album holds it; its own samples
// then join `library`. `shared` tells how many blocks were.
Bytes albumTrack(const Bytes& vgm, SampleLibrary& library, std::size_t start, bool repeats, std::uint32_t* shared = nullptr);

#ifdef QUORVEL_PLAYER_IMAGE
// The HES file of a converted image, with the player as built.
Bytes hesWithBuiltPlayer(const Bytes& image);
// The same for an album of images, each as the album holds it.
Bytes albumWithBuiltPlayer(const std::vector<Bytes>& images);
#endif

extern const std::string kBanner;

} // namespace quorvel::test
