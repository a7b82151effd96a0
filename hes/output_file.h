// Safe output: bytes in, a file at the output path out only when every write
// succeeded. A regular file is written beside its target and renamed onto it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace quorvel {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile(); // removes a temporary file that was not committed

    // False when the output cannot be created (missing folder, a directory, ...).
    bool open(const std::string& path);
    bool write(const void* data, std::size_t size);
    // Flushes, closes and moves the file into place; false on any failure.
    bool commit();

private:
    void discard();

    std::FILE* file_ = nullptr;
    std::string target_;    // where the output must end up
    std::string temporary_; // empty when writing to the target directly
    bool failed_ = false;
};

} // namespace quorvel
