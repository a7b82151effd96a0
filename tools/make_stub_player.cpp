// Placeholder player image: writes a 0x4000-byte drovan_huc6280.bin whose init
// routine (logical 0x4000, file offset 0x2000) returns at once and whose CPU vectors
// (file offsets 0x1FF6-0x1FFF, the top of logical window 7) all point at an RTI.
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "drovan_huc6280.bin";
    std::vector<unsigned char> image(0x4000, 0x00);
    const unsigned rtiAddress = 0xE020; // file offset 0x0020, the first byte that reaches the machine
    image[0x0020] = 0x40;               // RTI
    image[0x2000] = 0x60;               // RTS: init returns at once
    for (unsigned vector = 0x1FF6; vector < 0x2000; vector += 2) {
        image[vector] = static_cast<unsigned char>(rtiAddress & 0xFF);
        image[vector + 1] = static_cast<unsigned char>(rtiAddress >> 8);
    }
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    return std::fclose(f) == 0 && ok ? 0 : 1;
}
