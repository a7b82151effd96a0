// quorvel-album's process entry: the arguments in, the exit status out.
#include "cli/album.h"

int main(int argc, char** argv) { return quorvel::runAlbum(argc, argv); }
