// The conversion driver: paths and flags in; the stages run in their fixed order,
// the HES or raw file out, and the process exit status.
#include "cli/convert_file.h"

#include "convert/compact.h"
#include "convert/layout.h"
#include "convert/load.h"
#include "convert/patch.h"
#include "hes/hes_writer.h"

namespace quorvel {

void convertImage(ConversionJob& job)
{
    prepareHeader(job);
    compactCommands(job);
    layoutBanks(job);
    patchHeader(job);
    for (const std::string& warning : job.warnings) std::fputs(warning.c_str(), job.console);
}

int convertFile(const std::string& inputPath, const std::string& outputPath,
                ConversionFlags flags, std::FILE* console)
{
    ConversionJob job;
    job.inputPath = inputPath;
    job.outputPath = outputPath;
    job.flags = flags;
    job.console = console;
    try {
        loadInputImage(job);
        convertImage(job);
        writeHesFile(job);
    } catch (const ConversionError& error) {
        std::fputs(error.what(), console);
        return 1;
    }
    return 0;
}

} // namespace quorvel
