// The command line: arguments in; the banner, the usage line or one conversion out.
#include "cli/command_line.h"

#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstring>

#include "cli/convert_file.h"

namespace quorvel {

const char* progressGlyph(std::FILE* console)
{
    if (::isatty(::fileno(console)) == 0) return kProgressGlyph;
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    std::setlocale(LC_CTYPE, "");
    const bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    std::setlocale(LC_CTYPE, saved.c_str());
    return utf8 ? kProgressGlyphUtf8 : kProgressGlyph;
}

void printOptions(const std::vector<std::string>& lines, std::FILE* console)
{
    for (const std::string& line : lines) std::fprintf(console, "  %s\n", line.c_str());
    std::fputs("The player image drovan_huc6280.bin is read from the current directory, else from\n"
               "the installed share/quorvel, else from beside the program.\n",
               console);
}

std::string stripQuotes(const std::string& arg)
{
    if (arg.empty() || arg[0] != '"') return arg;
    std::string path = arg.substr(1);
    if (!path.empty()) path.pop_back();
    return path;
}

void printVersion(const char* name, std::FILE* console) { std::fprintf(console, "%s %s\n", name, QUORVEL_VERSION); }

CommandLine scanArguments(const std::vector<std::string>& args)
{
    CommandLine line;
    for (const std::string& arg : args) {
        if (!arg.empty() && arg[0] == '-') {
            if (arg == "-h" || arg == "-help" || arg == "-?") {
                line.help = true;
                return line;
            }
            if (arg == "-version" || arg == "--version") {
                line.version = true;
                return line;
            }
            if (arg == "-raw") line.flags |= kFlagRaw;
            if (arg == "-m3u") line.flags |= kFlagPlaylist;
            if (arg == "-fit") line.flags |= kFlagFit;
            if (arg == "-pce") line.flags |= kFlagCard;
            continue; // other options are ignored
        }
        if (!line.haveInput) {
            line.inputPath = stripQuotes(arg);
            line.haveInput = true;
        } else if (!line.haveOutput) {
            line.outputPath = stripQuotes(arg);
            line.haveOutput = true;
        }
    }
    return line;
}

int runCommandLine(int argc, char** argv, std::FILE* console)
{
    std::fputs("quorvel: VGM to HES converter for HuC6280 players\n", console);
    const CommandLine line = scanArguments(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (line.version) {
        printVersion("quorvel", console);
        return 0;
    }
    if (!line.help && line.haveInput && line.haveOutput) {
        return convertFile(line.inputPath, line.outputPath, line.flags, console, progressGlyph(console));
    }
    std::fputs("Usage: quorvel <input> <output>\n", console);
    if (!line.help) return kExitUsage;
    printOptions({"-raw      write the converted image alone, without HES header and player",
                  "-m3u      write a playlist beside the HES file, from the song's GD3 tag",
                  "-fit      repack a song beyond the 31 banks a HuC6280 maps so that it fits",
                  "-pce      write a HuCard image (.pce) that plays the song on a PC Engine",
                  "-version  print the program's name and version (also --version)",
                  "-h        print this help (also -help, -?)"},
                 console);
    return 0;
}

} // namespace quorvel
