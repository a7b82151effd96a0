// Example generator: writes the bundled demo tune, our own eight-second loop for
// SN76489 and YM2612 with a PCM drum, as OUTDIR/demo.vgm and OUTDIR/demo.vgz;
// with --seeds DIR, the fuzzer's seed corpus; with --songs DIR, the player's test
// songs; with --large DIR [MiB], benchmark inputs; with --random DIR COUNT [SEED],
// random inputs of every kind for checking two builds against each other.
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "tools/adpcm_songs.h"
#include "tools/huc_songs.h"
#include "tools/songs.h"
#include "tools/fit_songs.h"
#include "tools/timing_songs.h"
#include "tools/ym_songs.h"
#include "tools/vgm_builder.h"

using quorvel::Bytes;
using quorvel::VgmBuilder;
using quorvel::gzipBytes;

namespace {

constexpr double kPsgClock = 3579545.0;
constexpr double kFmClock = 7670453.0;
constexpr std::uint32_t kStep = 11025; // an eighth note at 120 bpm, in 44.1 kHz samples

std::uint8_t u8(unsigned v) { return static_cast<std::uint8_t>(v); }

double noteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

void psgTone(VgmBuilder& v, unsigned channel, int midi, unsigned attenuation)
{
    const unsigned n = static_cast<unsigned>(std::lround(kPsgClock / (32.0 * noteHz(midi))));
    v.commands({0x50, u8(0x80 | channel << 5 | (n & 0x0F)), 0x50, u8((n >> 4) & 0x3F)});
    v.commands({0x50, u8(0x90 | channel << 5 | attenuation)});
}

void fmNote(VgmBuilder& v, std::uint8_t port, int midi)
{
    const int block = 3;
    const double fnum = noteHz(midi) * 1048576.0 / (kFmClock / 144.0) / std::pow(2.0, block - 1);
    const unsigned f = static_cast<unsigned>(std::lround(fnum));
    v.commands({port, 0xA4, u8(block << 3 | (f >> 8)), port, 0xA0, u8(f)});
    v.commands({0x52, 0x28, u8(port == 0x52 ? 0x00 : 0x04), 0x52, 0x28, u8(port == 0x52 ? 0xF0 : 0xF4)});
}

void fmPatch(VgmBuilder& v, std::uint8_t port)
{
    static const std::uint8_t regs[][2] = {
        {0x30, 0x71}, {0x34, 0x0D}, {0x38, 0x33}, {0x3C, 0x01}, {0x40, 0x23}, {0x44, 0x2D},
        {0x48, 0x26}, {0x4C, 0x00}, {0x50, 0x5F}, {0x54, 0x99}, {0x58, 0x5F}, {0x5C, 0x94},
        {0x60, 0x05}, {0x64, 0x05}, {0x68, 0x05}, {0x6C, 0x07}, {0x70, 0x02}, {0x74, 0x02},
        {0x78, 0x02}, {0x7C, 0x02}, {0x80, 0x11}, {0x84, 0x11}, {0x88, 0x11}, {0x8C, 0xA6},
        {0xB0, 0x32}, {0xB4, 0xC0}};
    for (const auto& r : regs) v.commands({port, r[0], r[1]});
}

// A short decaying noise burst, unsigned 8-bit PCM.
Bytes drumSample()
{
    Bytes pcm(1500);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const double envelope = std::exp(-static_cast<double>(i) / 300.0);
        const double noise = static_cast<double>((seed >> 16) & 0xFF) - 128.0;
        pcm[i] = u8(128 + static_cast<int>(noise * envelope * 0.9));
    }
    return pcm;
}

// Plays the drum through the write-and-wait commands, one sample every four output
// samples, mixing forms that compaction folds and forms it leaves alone.
std::uint32_t playDrum(VgmBuilder& v, std::size_t length)
{
    v.commands({0xE0, 0x00, 0x00, 0x00, 0x00});
    std::uint32_t waited = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        switch ((i / 2) % 3) {
        case 0: v.commands({0x81, 0x73, 0x81, 0x73}); break; // folds forward
        case 1: v.commands({0x73, 0x81, 0x73, 0x81}); break; // folds backward
        default: v.commands({0x84, 0x84}); break;
        }
        waited += 8;
    }
    return waited;
}

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool writeGzip(const std::string& path, const Bytes& bytes, const char* mode = "wb9")
{
    gzFile gz = gzopen(path.c_str(), mode);
    if (!gz) return false;
    const bool ok = gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size())) ==
                    static_cast<int>(bytes.size());
    return gzclose(gz) == Z_OK && ok;
}

// Small inputs for the fuzzer's seed corpus: header versions, loops, folds, data
// blocks across banks, tails, and a compressed one.
bool writeSeeds(const std::string& dir)
{
    bool ok = true;
    auto seed = [&](const std::string& name, const Bytes& bytes) { ok = writeFile(dir + "/" + name, bytes) && ok; };

    seed("v101.vgm", VgmBuilder(0x101).commands({0x50, 0x9F, 0x62, 0x63, 0x40, 0x01}).finish());
    seed("v171-header80.vgm",
         VgmBuilder(0x171, 0x80).commands({0x40, 0x01, 0x02, 0x93, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}).finish("x"));
    {
        VgmBuilder v;
        v.commands({0x52, 0x27, 0x15, 0x52, 0x27, 0x40, 0x52, 0x25, 0x01, 0x52, 0x26, 0x02, 0x52, 0x24, 0x03});
        v.loopHere().commands({0x85, 0x73, 0x74, 0x73, 0x85, 0x7C, 0x85, 0x8A, 0x77, 0xE0, 0, 0, 0, 0, 0x61, 1, 0});
        seed("loop-folds.vgm", v.finish("folds"));
    }
    {
        VgmBuilder v;
        v.commands(Bytes(0x7F00, 0x62)).dataBlock(0x00, Bytes(0x9000, 0x66)).loopHere();
        v.commands({0x81, 0x72, 0x67, 0x66, 0x00, 0x02, 0x00, 0x00, 0x80, 0x67, 0x66, 0x68, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        const Bytes vgm = v.finish("banks");
        gzFile gz = gzopen((dir + "/banks.vgz").c_str(), "wb9");
        ok = gz && gzwrite(gz, vgm.data(), static_cast<unsigned>(vgm.size())) == static_cast<int>(vgm.size()) &&
             gzclose(gz) == Z_OK && ok;
    }
    {
        Bytes open = VgmBuilder().commands({0x50, 0x9F, 0x52, 0x2B}).finish();
        open.pop_back();
        seed("no-end.vgm", open);
    }
    return ok;
}

// Benchmark inputs of about `size` bytes each: dense.vgm, a dense mix of PSG and
// YM2612 writes, short waits and PCM write-and-wait commands; blocks.vgm, mostly a few
// large data blocks. Each also as .vgz.
bool writeLarge(const std::string& dir, std::size_t size)
{
    std::uint32_t seed = 2024;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };

    VgmBuilder dense;
    dense.field(0x0C, 3579545).field(0x2C, 7670453);
    dense.dataBlock(0x00, drumSample()).loopHere();
    while (dense.size() < size) {
        const std::uint32_t r = next();
        switch (r % 8) {
        case 0: dense.commands({0x50, u8(0x80 | (r >> 8 & 0x7F))}); break;
        case 1: dense.commands({0x52, u8(0x30 + (r >> 8) % 0x80), u8(r >> 16)}); break;
        case 2: dense.commands({0x53, u8(0x30 + (r >> 8) % 0x80), u8(r >> 16)}); break;
        case 3: dense.commands({0x52, u8(0x25 + (r >> 8) % 3), u8(r >> 16)}); break;
        case 4: dense.commands({u8(0x70 | (r >> 8 & 0x0F))}); break;
        case 5: dense.commands({u8(0x80 | (r >> 8 & 0x0F)), u8(0x70 | (r >> 12 & 0x07))}); break;
        case 6: dense.commands({u8(0x70 | (r >> 8 & 0x07)), u8(0x80 | (r >> 12 & 0x07))}); break;
        default: dense.commands({0x61, u8(r >> 8), 0x00}); break;
        }
    }
    const Bytes denseVgm = dense.finish("dense");

    VgmBuilder blocks;
    for (int n = 0; n < 4 && blocks.size() < size; ++n) {
        Bytes pcm(size / 4 - 0x1000);
        for (std::uint8_t& b : pcm) b = u8(128 + static_cast<int>(next() % 64) - 32);
        blocks.dataBlock(0x00, pcm).commands({0xE0, 0, 0, 0, 0, 0x81, 0x72, 0x62});
    }
    const Bytes blocksVgm = blocks.finish("blocks");

    return writeFile(dir + "/dense.vgm", denseVgm) && writeGzip(dir + "/dense.vgz", denseVgm, "wb6") &&
           writeFile(dir + "/blocks.vgm", blocksVgm) && writeGzip(dir + "/blocks.vgz", blocksVgm, "wb6");
}


// `count` random inputs for checking two builds against each other, of every kind the
// converter meets: header versions and sizes, loops at commands, inside them and past
// the end, every command family with its operands, waits to fold, data blocks (some
// illegal), streams cut or without 0x66, tails; plain, gzip (levels, several members,
// bytes after them), gzip cut or damaged, and names that say compressed when they are
// not.
bool writeRandom(const std::string& dir, unsigned count, std::uint32_t seed)
{
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    static const std::uint32_t versions[] = {0x100, 0x101, 0x110, 0x150, 0x151, 0x160, 0x161, 0x171, 0x172};
    bool ok = true;
    for (unsigned n = 0; n < count; ++n) {
        const std::uint32_t version = versions[next() % 9];
        const std::uint32_t headerSize = next() % 4 == 0 ? 0x40 + 4 * (next() % 48) : (next() % 2 ? 0x40 : 0x100);
        VgmBuilder v(version, headerSize);
        if (next() % 8 == 0) v.field(0x34, next() % 3 == 0 ? 0 : next() % 0x200); // odd data offsets
        const bool large = next() % 16 == 0;
        const std::size_t target = large ? 0x8000 + next() % 0x30000 : next() % 3000;
        std::vector<std::size_t> starts;
        while (v.size() < target) {
            starts.push_back(v.size());
            const std::uint32_t r = next();
            switch (r % 16) {
            case 0: v.commands({0x50, u8(r >> 8)}); break;
            case 1: v.commands({0x52, u8(0x20 + (r >> 8) % 16), u8(r >> 16)}); break; // timers, mode, DAC
            case 2: v.commands({u8(0x52 + (r >> 8) % 2), u8(r >> 12), u8(r >> 20)}); break;
            case 3: v.commands({u8(0x70 | (r >> 8 & 0x0F))}); break;
            case 4: v.commands({u8(0x80 | (r >> 8 & 0x0F))}); break;
            case 5: v.commands({0x61, u8(r >> 8), u8(r >> 16)}); break;
            case 6: v.commands({u8(0x62 + (r >> 8) % 2)}); break;
            case 7: {
                Bytes data(r >> 8 & (large ? 0x3FFF : 0x1FF));
                for (std::uint8_t& b : data) b = u8(next());
                const std::uint8_t type = r % 64 == 7 ? u8(0x40 + (r >> 20) % 0x40) : u8((r >> 20) % 4 == 0 ? 0x40 : 0x00);
                v.dataBlock(type, data);
                break;
            }
            case 8: v.commands({0xE0, u8(r >> 8), u8(r >> 16), 0, 0}); break;
            case 9: v.commands({u8(0x30 + (r >> 8) % 0x1F), u8(r >> 16), u8(r >> 24)}); break; // reserved, 1-2 operands
            case 10: v.commands({u8(0xA0 + (r >> 8) % 0x20), u8(r >> 16), u8(r >> 24)}); break;
            case 11: v.commands({u8(0xC0 + (r >> 8) % 0x20), u8(r >> 16), u8(r >> 24), u8(r)}); break;
            case 12: v.commands({u8(0xE1 + (r >> 8) % 0x1F), u8(r >> 16), u8(r >> 24), u8(r), u8(r >> 4)}); break;
            case 13: v.commands({0x93, 0, u8(r), 0, 0, 0, 1, u8(r >> 8), 0, 0, 0, 0x94, 0}); break;
            case 14: v.commands({0x90, 0, 2, 0, 0x2A, 0x91, 0, 0, 1, 0, 0x95, 0, 0, 0, 0}); break;
            default: v.commands({0x4F, u8(r >> 8), 0x68, 0x66, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 1, 2, 3, 4}); break;
            }
        }
        // The loop: none, at a command, inside one, or beyond the end.
        switch (next() % 4) {
        case 0: break;
        case 1: if (!starts.empty()) v.field(0x1C, static_cast<std::uint32_t>(starts[next() % starts.size()] - 0x1C)); break;
        case 2: v.field(0x1C, static_cast<std::uint32_t>(headerSize + next() % (v.size() - headerSize + 1) - 0x1C)); break;
        default: v.field(0x1C, next()); break;
        }
        Bytes vgm;
        switch (next() % 5) {
        case 0: vgm = v.finish(); break;
        case 1: vgm = v.finish("random"); break;
        case 2: v.commands({0x66}); vgm = v.finish(); vgm.resize(vgm.size() - 1); break; // the 0x66 cut off
        case 3: vgm = v.finish(); vgm.resize(vgm.size() - 1 - next() % 3); break; // cut inside the last commands
        default: vgm = v.finish(); vgm.pop_back(); break; // no 0x66
        }
        if (next() % 10 == 0) setLe32(vgm, 0x14, next()); // a GD3 offset anywhere
        const std::string name = dir + "/r" + std::to_string(n);
        const std::uint32_t form = next() % 10;
        if (form < 4) {
            ok = writeFile(name + ".vgm", vgm) && ok;
        } else if (form == 4) {
            ok = writeFile(name + ".vgz", vgm) && ok; // a plain file named as compressed
        } else {
            Bytes gz = gzipBytes(vgm, static_cast<int>(next() % 10));
            if (form == 6) { // two members
                const std::size_t half = vgm.size() / 2;
                gz = gzipBytes(Bytes(vgm.begin(), vgm.begin() + static_cast<long>(half)), 6);
                const Bytes rest = gzipBytes(Bytes(vgm.begin() + static_cast<long>(half), vgm.end()), 1);
                gz.insert(gz.end(), rest.begin(), rest.end());
            } else if (form == 7) {
                for (int k = 0; k < 5; ++k) gz.push_back(u8(next())); // bytes after the member
            } else if (form == 8) {
                gz.resize(gz.size() > 1 ? next() % gz.size() : 0); // cut
            } else if (form == 9 && gz.size() > 20) {
                gz[10 + next() % (gz.size() - 20)] ^= u8(1 + next() % 255); // damaged
            }
            ok = writeFile(name + ".vgz", gz) && ok;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--seeds") return writeSeeds(argv[2]) ? 0 : 1;
    if (argc > 2 && std::string(argv[1]) == "--songs") {
        bool ok = true;
        for (const quorvel::songs::Song& song : quorvel::songs::all()) {
            ok = writeFile(std::string(argv[2]) + "/" + song.name + ".vgm", song.vgm) && ok;
        }
        for (const quorvel::songs::Song& song :
             {quorvel::songs::periodic(16), quorvel::songs::periodic(15), quorvel::songs::pcmDrums(false),
              quorvel::songs::pcmDrums(true), quorvel::songs::dacStreams().song, quorvel::songs::densePcm(),
              quorvel::songs::seekBeyond(), quorvel::songs::dacPan(), quorvel::songs::fmAlgorithms(),
              quorvel::songs::fmSong(), quorvel::songs::fmPatches(), quorvel::songs::fmWithMelody(), quorvel::songs::fmFullSong(), quorvel::songs::denseFm(),
              quorvel::songs::fmPad(), quorvel::songs::mixBalance(), quorvel::songs::fmLevels(1), quorvel::songs::fmLevels(2),
              quorvel::songs::timedSong("mix-1", quorvel::songs::drumSound(6000, 200, 11025), 5, 60.5,
                                        quorvel::songs::RandomMix(1, 6000)).song,
              quorvel::songs::timedSong("driver-1", quorvel::songs::drumSound(6000, 200, 11025), 5, 60.5,
                                        quorvel::songs::DriverMix(1)).song,
              quorvel::songs::pcmBeyondOneMebibyte(false, 120).song, quorvel::songs::pcmBeyondOneMebibyte(true, 30).song}) {
            ok = writeFile(std::string(argv[2]) + "/" + song.name + ".vgm", song.vgm) && ok;
        }
        for (const quorvel::songs::HucSong& song : quorvel::songs::hucSongs()) {
            ok = writeFile(std::string(argv[2]) + "/" + song.name + ".vgm", song.vgm) && ok;
        }
        for (const quorvel::songs::CdSong& song :
             {quorvel::songs::pceCdSong(16000), quorvel::songs::pceCdSong(32000),
              quorvel::songs::pceCdSong(32000, quorvel::songs::AdpcmFeed::Master, false)}) {
            ok = writeFile(std::string(argv[2]) + "/" + song.name + ".vgm", song.vgm) && ok;
        }
        const quorvel::songs::Song cdMix = quorvel::songs::cdTimedSong("cd-mix-1", 5, 60.5, quorvel::songs::CdMix(1));
        ok = writeFile(std::string(argv[2]) + "/" + cdMix.name + ".vgm", cdMix.vgm) && ok;
        return ok ? 0 : 1;
    }
    if (argc > 3 && std::string(argv[1]) == "--random") {
        const std::uint32_t seed = argc > 4 ? static_cast<std::uint32_t>(std::stoul(argv[4])) : 1;
        return writeRandom(argv[2], static_cast<unsigned>(std::stoul(argv[3])), seed | 1) ? 0 : 1;
    }
    if (argc > 2 && std::string(argv[1]) == "--large") {
        const std::size_t mib = argc > 3 ? std::stoul(argv[3]) : 64;
        return writeLarge(argv[2], mib << 20) ? 0 : 1;
    }
    const std::string dir = argc > 1 ? argv[1] : ".";
    VgmBuilder v(0x150);
    v.field(0x0C, 3579545).field(0x2C, 7670453).field(0x24, 60);

    const Bytes drum = drumSample();
    v.dataBlock(0x00, drum);
    // Timer and mode writes: only 0x24 and the change to channel-3 mode 01 survive.
    v.commands({0x52, 0x22, 0x00, 0x52, 0x27, 0x00, 0x52, 0x24, 0x80, 0x52, 0x25, 0x01,
                0x52, 0x26, 0xC8, 0x52, 0x27, 0x15, 0x52, 0x27, 0x40, 0x52, 0x27, 0x45,
                0x52, 0x27, 0x00, 0x52, 0x2B, 0x80});
    fmPatch(v, 0x52);
    fmPatch(v, 0x53);
    v.commands({0x50, 0xE4, 0x50, 0xFF}); // white noise, silent

    static const int melody[] = {76, 79, 81, 79, 76, 74, 72, 74, 76, 79, 83, 81, 79, 76, 74, 76,
                                 72, 74, 76, 74, 72, 71, 69, 71, 72, 76, 79, 76, 74, 71, 72, 72};
    static const int bass[] = {45, 45, 41, 41, 43, 43, 45, 45};
    v.loopHere();
    for (int step = 0; step < 32; ++step) {
        psgTone(v, 0, melody[step], step % 2 ? 4 : 2);
        psgTone(v, 1, melody[step] - 12, 8);
        if (step % 4 == 0) fmNote(v, step % 8 ? 0x53 : 0x52, bass[step / 4]);
        v.commands({0x50, u8(0xF0 | (step % 2 ? 6 : 15))}); // hi-hat on the off-beat
        std::uint32_t left = kStep;
        if (step % 4 == 0) left -= playDrum(v, drum.size());
        v.commands({0x62, 0x63});                       // 735 + 882 samples
        left -= 735 + 882;
        v.commands({0x7F, 0x70});                       // 16 + 1 samples
        left -= 17;
        v.wait(left);
    }
    const Bytes vgm = v.finish("quorvel demo");

    if (!writeFile(dir + "/demo.vgm", vgm) || !writeGzip(dir + "/demo.vgz", vgm)) {
        std::fprintf(stderr, "make_example: cannot write to %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
