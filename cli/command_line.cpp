// The command line: arguments in; the banner, the usage line or one conversion out.
#include "cli/command_line.h"

#include "cli/convert_file.h"

namespace quorvel {

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
        return convertFile(line.inputPath, line.outputPath, line.flags, console);
    }
    std::fputs("Usage: quorvel <input> <output>\n", console);
    return line.help ? 0 : kExitUsage;
}

} // namespace quorvel
