// Safe output: bytes in, a file at the output path out only when every write
// succeeded. A regular file is written beside its target and renamed onto it.
#include "hes/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace quorvel {
namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

mode_t defaultCreateMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path)
{
    target_ = path;
    if (path.empty()) return false;
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return false;
    struct stat link;
    if (!exists && ::lstat(path.c_str(), &link) != 0) {
        // Nothing there yet: make sure a file of that name can be created at all (a
        // long name, a read-only folder), so that such a path fails here, not at the end.
        const int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (probe < 0) return false;
        ::close(probe);
        ::unlink(path.c_str());
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe: there is nothing to keep safe, write to it directly.
        file_ = std::fopen(path.c_str(), "wb");
        return file_ != nullptr;
    }

    // Through a symbolic link, the file it points at is the one replaced.
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) target_ = resolved;
    }
    std::string name = folderOf(target_) + "/.quorvel-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) return false;
    temporary_ = buffer.data();
    const mode_t mode = exists ? (st.st_mode & 07777) : defaultCreateMode();
    if (::fchmod(fd, mode) != 0 || !(file_ = ::fdopen(fd, "wb"))) {
        ::close(fd);
        discard();
        return false;
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size)
{
    if (!failed_ && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
}

bool OutputFile::commit()
{
    std::FILE* file = file_;
    file_ = nullptr;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (failed_ || !flushed || !closed) {
        failed_ = true;
        discard();
        return false;
    }
    if (temporary_.empty()) return true;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace quorvel
