// Process entry: the arguments in, the exit status out.
#include "cli/command_line.h"

int main(int argc, char** argv) { return quorvel::runCommandLine(argc, argv); }
