// What a run may write over: the paths it reads and writes in; an error line when an
// output would replace one of its inputs, or any file that holds a VGM song.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

// True when `a` and `b` name one existing file, however they are spelled (links and
// ".." included).
bool sameFile(const std::string& a, const std::string& b);

// True when `path` is a regular file whose content, plain or through gzip, begins
// with "Vgm ", and is not a converted image (-raw's, whose version byte the converter
// rewrote).
bool holdsVgm(const std::string& path);

// Throws ConversionError when `output` is one of `inputs`, or holds a VGM song.
void checkOutput(const std::string& output, const std::vector<std::string>& inputs);

} // namespace quorvel
