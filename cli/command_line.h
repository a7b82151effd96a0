// The command line: arguments in; the banner, the usage line or one conversion out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "convert/job.h"

namespace quorvel {

constexpr int kExitUsage = 2;

// A path that arrives in double quotes loses the first character and the last,
// whatever the last is.
std::string stripQuotes(const std::string& arg);

// "NAME VERSION" on a line of its own, for -version.
void printVersion(const char* name, std::FILE* console);

// The progress glyph for `console`: U+2592 when it is a terminal whose locale
// shows UTF-8, else the byte 0xB1 (pipes and files get the same bytes as ever).
const char* progressGlyph(std::FILE* console);

// The help text after the usage line: one line an option, and where the player
// image is looked for.
void printOptions(const std::vector<std::string>& lines, std::FILE* console);

struct CommandLine {
    bool help = false;    // "-h", "-help" or "-?" was given
    bool version = false; // "-version" or "--version" was given
    bool haveInput = false;
    bool haveOutput = false;
    std::string inputPath;
    std::string outputPath;
    ConversionFlags flags = 0;
};

// Scans the arguments after the program name.
CommandLine scanArguments(const std::vector<std::string>& args);

// Returns the exit status: 0 after a conversion or help, 1 after an error, 2 when
// the usage line stands for missing paths.
int runCommandLine(int argc, char** argv, std::FILE* console = stdout);

} // namespace quorvel
