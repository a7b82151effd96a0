// SN76489 test songs of our own for the player: each a VGM image in memory, with
// how long to play it. Used by the player tests and by make_example --songs.
#pragma once

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vgm_builder.h"

namespace quorvel::songs {

struct Song {
    std::string name;
    Bytes vgm;
    double seconds; // how long to compare: within the song, past the first repeat when it loops
};

constexpr std::uint32_t kNtscClock = 3579545;
constexpr std::uint32_t kPalClock = 3546893;

inline std::uint8_t u8(unsigned v) { return static_cast<std::uint8_t>(v); }

inline unsigned period(double hz, std::uint32_t clock)
{
    return static_cast<unsigned>(std::lround(clock / (32.0 * hz)));
}

inline double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

inline void tone(VgmBuilder& v, unsigned channel, int note, unsigned attenuation, std::uint32_t clock = kNtscClock)
{
    const unsigned n = period(midiHz(note), clock);
    v.commands({0x50, u8(0x80 | channel << 5 | (n & 0x0F)), 0x50, u8(n >> 4 & 0x3F)});
    v.commands({0x50, u8(0x90 | channel << 5 | attenuation)});
}

inline VgmBuilder start(std::uint32_t clock = kNtscClock)
{
    VgmBuilder v(0x150);
    v.field(0x0C, clock);
    return v;
}

// Three tones at different levels, a new chord every quarter second with its own
// loudness, quiet noise.
inline Song chords()
{
    VgmBuilder v = start();
    static const int melody[] = {72, 74, 76, 77, 79, 81, 83, 84, 83, 81, 79, 77,
                                 76, 74, 72, 71, 69, 71, 72, 74, 76, 79, 84, 72};
    static const unsigned accent[] = {0, 4, 8, 2, 6, 10, 1, 5};
    for (int step = 0; step < 24; ++step) {
        tone(v, 0, melody[step], accent[step % 8]);
        tone(v, 1, melody[step] - 12, 6);
        tone(v, 2, melody[step] - 17, 11);
        v.commands({0x50, 0xE4, 0x50, u8(0xF0 | (step % 2 ? 12 : 15))});
        for (int frame = 0; frame < 15; ++frame) v.commands({0x62});
    }
    return {"chords", v.finish("chords"), 5.9};
}

// One voice whose notes fade out frame by frame.
inline Song envelope()
{
    VgmBuilder v = start();
    for (int step = 0; step < 20; ++step) {
        tone(v, 0, 60 + (step * 5) % 24, 0);
        for (unsigned att = 0; att < 16; ++att) v.commands({0x50, u8(0x90 | att), 0x62, 0x62});
    }
    return {"envelope", v.finish("envelope"), 10.6};
}

// Game Gear stereo moving a voice between the sides.
inline Song stereo()
{
    VgmBuilder v = start();
    static const std::uint8_t sides[] = {0xFF, 0xEE, 0xDD, 0xFF, 0x11, 0x22};
    for (int step = 0; step < 16; ++step) {
        v.commands({0x4F, sides[step % 6]});
        tone(v, 0, 64 + step, 0);
        tone(v, 1, 52 + step, 5);
        v.wait(22050);
    }
    return {"stereo", v.finish("stereo"), 7.9};
}

// A PAL song: 50 Hz frames and the PAL clock, so periods must be rescaled.
inline Song pal()
{
    VgmBuilder v = start(kPalClock);
    static const unsigned accent[] = {1, 6, 10, 3, 8};
    for (int step = 0; step < 20; ++step) {
        tone(v, 0, 57 + step, accent[step % 5], kPalClock);
        tone(v, 2, 45 + step, 7, kPalClock);
        for (int frame = 0; frame < 15; ++frame) v.commands({0x63});
    }
    return {"pal", v.finish("pal"), 5.9};
}

// An intro, then a loop that must still agree after it repeats.
inline Song looping()
{
    VgmBuilder v = start();
    for (int step = 0; step < 6; ++step) {
        tone(v, 0, 60 + step, step % 2 ? 8 : 0);
        v.wait(11025);
    }
    v.loopHere();
    static const int phrase[] = {67, 71, 74, 79, 74, 71, 67, 62};
    unsigned accent = 0;
    for (int note : phrase) {
        tone(v, 0, note, accent);
        accent = (accent + 3) % 12;
        tone(v, 1, note - 12, 6);
        v.wait(11025);
    }
    return {"loop", v.finish("loop"), 8.0};
}

// SN76489 notes among YM2612 writes, PCM data blocks and write-and-wait commands, so
// that the song spans several 32 KiB banks with commands and blocks across bank ends.
inline Song banks()
{
    VgmBuilder v = start();
    v.field(0x2C, 7670453);
    std::uint32_t seed = 7;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int step = 0; step < 24; ++step) {
        if (step % 3 == 0) {
            Bytes pcm(9000 + 1000 * (step % 5));
            for (std::uint8_t& b : pcm) b = u8(next());
            v.dataBlock(0x00, pcm);
        }
        tone(v, 0, 60 + (step * 7) % 19, (step * 5) % 11);
        tone(v, 1, 48 + step % 12, 12);
        v.commands({0xE0, 0x00, 0x00, 0x00, 0x00});
        std::uint32_t left = 11025;
        while (left > 16) {
            const unsigned r = next();
            if (r % 4 == 0) v.commands({0x52, u8(0x30 + r % 0x60), u8(r >> 4)});
            if (r % 7 == 0) v.commands({0x53, u8(0x30 + r % 0x60), u8(r >> 3)});
            const unsigned n = 1 + r % 15;
            v.commands({u8(0x80 | n)});
            left -= n;
        }
        v.wait(left);
    }
    return {"banks", v.finish("banks"), 5.9};
}

// Notes whose commands sit at every kind of bank end: a bank-end marker at bank
// offset 0x7FFD, 0x7FFE and 0x7FFF (the last byte, after which the stream has already
// moved on), a seek command and a data block running across a bank boundary. Each
// note lasts a quarter second, filled with YM2612 writes among short waits.
inline Song boundaries()
{
    VgmBuilder v = start();
    v.field(0x2C, 7670453);
    std::size_t image = 0x40; // where the next command lands in the converted image
    std::uint32_t waited = 0; // samples of the current note so far
    auto add = [&](const Bytes& command) {
        v.commands(command);
        image += command.size();
        if ((image & 0x7FFF) > 0x7FFC) image = (image | 0x7FFF) + 1; // marker and fill
    };
    auto left = [&](std::size_t bankOffset) { return (bankOffset - image) & 0x7FFF; };
    // Fills up to `bankOffset` with writes the player skips (a 16-sample wait after
    // every 16 of them), ending with a three-byte write that ends there.
    auto fillTo = [&](std::size_t bankOffset) {
        for (unsigned count = 1; left(bankOffset) > 7; ++count) {
            add({0x52, 0x90, 0x00});
            if (count % 16 == 0 && waited + 16 < 11025) {
                add({0x7F});
                waited += 16;
            }
        }
        while (left(bankOffset) > 3) add({0x50, 0xFF}); // noise stays silent
        if (left(bankOffset) == 1) throw std::logic_error("filler cannot end there");
        if (left(bankOffset) == 2) add({0x50, 0xFF});
        add({0x52, 0x90, 0x00});
    };
    auto note = [&](int n, unsigned att) {
        const unsigned p = period(midiHz(n), kNtscClock);
        add({0x50, u8(0x80 | (p & 0x0F)), 0x50, u8(p >> 4 & 0x3F), 0x50, u8(0x90 | att)});
        waited = 0;
    };
    auto rest = [&] {
        const std::uint32_t n = 11025 - waited;
        add({0x61, u8(n), u8(n >> 8)});
    };
    int pitch = 60;
    for (const std::size_t end : {0x7FFDu, 0x7FFEu, 0x7FFFu}) {
        note(pitch++, (end & 3) * 3);
        fillTo(end);
        rest();
    }
    note(pitch++, 2);
    fillTo(0x7FFC);
    add({0xE0, 0x00, 0x00, 0x00, 0x00}); // 0x7FFC-0x8000, no marker
    rest();
    note(pitch++, 5);
    fillTo(0x7F00);
    v.dataBlock(0x00, Bytes(0x200, 0x80)); // 0x7F00-0x8106
    image += 7 + 0x200;
    rest();
    note(pitch++, 0);
    rest();
    note(pitch++, 8);
    rest();
    return {"boundaries", v.finish("boundaries"), 1.7};
}

// Periodic noise at its three fixed rates and at tone 2's rate, for a shift register of
// `width` bits (16 on Sega's chips, 15 on the others).
inline Song periodic(unsigned width)
{
    VgmBuilder v = start();
    v.field(0x28, width == 16 ? 0x0009 : 0x0003);
    v.field(0x2A, width);
    v.commands({0x50, 0x9F, 0x50, 0xBF, 0x50, 0xDF}); // tones silent
    static const unsigned tone2[] = {40, 57, 81, 121, 170, 200, 255};
    for (int step = 0; step < 10; ++step) {
        if (step < 3) {
            v.commands({0x50, u8(0xE0 | step)});
        } else {
            const unsigned n = tone2[step - 3];
            v.commands({0x50, u8(0xC0 | (n & 0x0F)), 0x50, u8(n >> 4 & 0x3F), 0x50, 0xE3});
        }
        for (unsigned frame = 0; frame < 18; ++frame) v.commands({0x50, u8(0xF0 | std::min(frame / 2, 14u)), 0x62});
    }
    const std::string name = width == 16 ? "periodic" : "periodic15";
    return {name, v.finish(name), 3.0};
}

inline std::vector<Song> all()
{
    return {chords(), envelope(), stereo(), pal(), looping(), banks(), boundaries()};
}

} // namespace quorvel::songs
