// Test helpers: running the stages on memory, running the built binary in a scratch
// folder, and small file utilities.
#include "tests/support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <dirent.h>
#include <stdexcept>

#include "cli/convert_file.h"
#include "convert/patch.h"
#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/repeats.h"
#include "hes/album.h"
#include "hes/hes_writer.h"

namespace quorvel::test {

const std::string kBanner = "quorvel: VGM to HES converter for HuC6280 players\n";

Console::Console() : stream_(open_memstream(&buffer_, &size_)) {}

Console::~Console()
{
    std::fclose(stream_);
    std::free(buffer_);
}

std::string Console::text()
{
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

void loadJob(ConversionJob& job, const Bytes& input, std::FILE* console)
{
    job.inputPath = "in.vgm";
    job.console = console;
    job.inputImage = input;
    job.inputLength = static_cast<std::uint32_t>(input.size());
}

Packed compact(const Bytes& input)
{
    Console console;
    ConversionJob job;
    loadJob(job, input, console.stream());
    prepareHeader(job);
    compactCommands(job);
    Bytes stream(job.packedStream.begin(), job.packedStream.begin() + job.packedLength);
    return {stream, job.loopMark, job.warnings};
}

Converted convert(const Bytes& input, const std::string& path, bool repeats)
{
    Console console;
    ConversionJob job;
    loadJob(job, input, console.stream());
    job.inputPath = path;
    job.repeats = repeats;
    Converted result;
    try {
        convertImage(job);
        result.image = imageBytes(job);
    } catch (const ConversionError& e) {
        result.error = e.what();
    }
    result.console = console.text();
    return result;
}

ScratchDir::ScratchDir()
{
    char name[] = "/tmp/quorvel-test-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path_ = name;
}

ScratchDir::~ScratchDir()
{
    nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> ScratchDir::entries() const
{
    std::vector<std::string> names;
    if (DIR* d = opendir(path_.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

namespace {

std::string drain(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t got;
    while ((got = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(got));
    close(fd);
    return text;
}

} // namespace

RunResult runQuorvel(const std::vector<std::string>& args, const std::string& cwd)
{
    return runProgram(QUORVEL_BINARY, args, cwd);
}

RunResult runAlbum(const std::vector<std::string>& args, const std::string& cwd)
{
    return runProgram(QUORVEL_ALBUM_BINARY, args, cwd);
}

RunResult runProgram(const char* binary, const std::vector<std::string>& args, const std::string& cwd)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        if (chdir(cwd.c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(binary)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    RunResult run;
    run.err = drain(err[0]); // quorvel never writes much to either stream
    run.out = drain(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

Bytes readFile(const std::string& path)
{
    Bytes bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void installPlayer(const std::string& dir)
{
    writeFile(dir + "/drovan_huc6280.bin", readFile(std::string(QUORVEL_SOURCE_DIR) + "/drovan_huc6280.bin"));
}

Bytes albumTrack(const Bytes& vgm, SampleLibrary& library, std::size_t start, bool repeats, std::uint32_t* shared)
{
    Console console;
    ConversionJob job;
    loadJob(job, vgm, console.stream());
    prepareHeader(job);
    compactCommands(job);
    SamplesReport report;
    shareSamples(job, &library, report);
    if (repeats) {
        RepeatsReport packed;
        packRepeats(job, packed);
    }
    layoutBanks(job);
    patchHeader(job);
    const Bytes image = albumImage(imageBytes(job));
    library.add(image, start, job.pcmBlocks);
    if (shared != nullptr) *shared = report.shared;
    return image;
}

#ifdef QUORVEL_PLAYER_IMAGE
namespace {
Bytes hesOf(const std::vector<Bytes>& images)
{
    std::size_t size = 0;
    for (const Bytes& image : images) size += image.size();
    const auto header = makeHesHeader(static_cast<std::uint32_t>(size));
    Bytes hes(header.begin(), header.end());
    Bytes player = readFile(QUORVEL_PLAYER_IMAGE);
    player.resize(kPlayerImageEnd, 0x00);
    if (images.size() > 1) fillAlbumTable(player.data() + kAlbumTableOffset, images);
    hes.insert(hes.end(), player.begin() + kHesHeaderSize, player.end());
    for (const Bytes& image : images) hes.insert(hes.end(), image.begin(), image.end());
    return hes;
}
} // namespace

Bytes hesWithBuiltPlayer(const Bytes& image) { return hesOf({image}); }
Bytes albumWithBuiltPlayer(const std::vector<Bytes>& images) { return hesOf(images); }
#endif

} // namespace quorvel::test
