// quorvel-album's command line: an output path and input paths in; the banner, each
// input's conversion and one HES file of them all with its playlist out.
#pragma once

#include <cstdio>

namespace quorvel {

constexpr int kExitSkipped = 3; // the album was written without the inputs that failed

// Returns the exit status: 0 when every input is in the album, kExitSkipped when the
// album was written without inputs that failed (their error lines printed), 1 after
// an error line with nothing written, 2 with the usage line.
int runAlbum(int argc, char** argv, std::FILE* console = stdout);

} // namespace quorvel
