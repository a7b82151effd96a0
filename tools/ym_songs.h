// YM2612 test songs of our own for the player: PCM drums through write-and-wait
// commands, through DAC writes and through DAC streams, a dense stream among FM
// writes, and FM voices (every algorithm in every block, a melody, vibrato, channel 3
// special mode, a six-channel chord, stereo), each a VGM image in memory. Used by the
// player tests and make_example.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "tools/songs.h"

namespace quorvel::songs {

constexpr std::uint32_t kYmClock = 7670453;

inline VgmBuilder ymStart()
{
    VgmBuilder v(0x161, 0x100);
    v.field(0x0C, kNtscClock).field(0x2C, kYmClock);
    return v;
}

// A drum: a decaying tone with noise, 8-bit unsigned (0x80 silent).
inline Bytes drumSound(std::size_t length, double hz, double rate)
{
    Bytes pcm(length);
    std::uint32_t seed = 5;
    for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double noise = static_cast<double>((seed >> 16) & 0xFF) / 255.0 - 0.5;
        const double decay = std::exp(-static_cast<double>(i) / (0.25 * static_cast<double>(length)));
        const double v = decay * (0.7 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate) + 0.6 * noise);
        pcm[i] = u8(std::lround(128 + 120 * std::max(-1.0, std::min(1.0, v))));
    }
    return pcm;
}

inline std::uint8_t le(std::uint32_t v, int byte) { return u8(v >> (8 * byte)); }

// A drum loop of 0x8n over a data block with 0xE0 seeks, at 11 and 22 kHz, with a
// PSG bass under it; the block runs across the first bank's end.
// With `dacWrites`, the same drums as 0x52 0x2A writes and 0x61 waits.
inline Song pcmDrums(bool dacWrites)
{
    VgmBuilder v = ymStart();
    const Bytes snare = drumSound(2400, 900, 22050), kick = drumSound(2600, 120, 11025); // 0.11 s, 0.24 s
    v.commands({0x50, 0x9F, 0x50, 0xBF, 0x50, 0xDF, 0x50, 0xFF});
    // A block of another type, passed over, so that the drums' block starts before
    // 0x8000 and ends after it. (libgme's VGM player reads only the last block.)
    v.dataBlock(0x01, Bytes(0x8000 - 3000 - v.size(), 0x00));
    Bytes drums = snare;
    drums.insert(drums.end(), kick.begin(), kick.end());
    v.dataBlock(0x00, drums);
    v.commands({0x52, 0x2B, 0x80, 0x53, 0xB6, 0xC0});
    for (int beat = 0; beat < 16; ++beat) {
        tone(v, 0, 40 + (beat % 4) * 3, 4);
        const bool isKick = beat % 2 == 0;
        const std::uint32_t offset = isKick ? static_cast<std::uint32_t>(snare.size()) : 0;
        const std::size_t length = isKick ? kick.size() : snare.size();
        const unsigned step = isKick ? 4 : 2; // 11025 or 22050 bytes a second
        std::uint32_t waited = 0;
        if (!dacWrites) v.commands({0xE0, le(offset, 0), le(offset, 1), le(offset, 2), le(offset, 3)});
        for (std::size_t i = 0; i < length; ++i) {
            if (dacWrites) {
                v.commands({0x52, 0x2A, (isKick ? kick : snare)[i], 0x61, u8(step), 0x00});
            } else {
                v.commands({u8(0x80 | step)});
            }
            waited += step;
        }
        v.wait(11025 - waited);
    }
    const std::string name = dacWrites ? "dac-writes" : "pcm-drums";
    return {name, v.finish(name), 4.0};
}

// The same sounds through a DAC stream: started with 0x93 (from an offset, for a
// length in samples, then in milliseconds), with 0x95 (a block by its number), looped
// and stopped. The expected sound is the writes' own: `events` lists when each
// start and stop falls (sample, 1 for a start).
struct StreamSong {
    Song song;
    std::vector<std::pair<std::uint32_t, int>> events;
    double hz[2]; // the tone of block 0 and of block 1 as the stream plays them
};

inline StreamSong dacStreams()
{
    VgmBuilder v = ymStart();
    constexpr std::uint32_t kRate = 16000;
    Bytes low(1600), high(800);
    for (std::size_t i = 0; i < low.size(); ++i) low[i] = u8(std::lround(128 + 100 * std::sin(2 * M_PI * 400.0 * i / kRate)));
    for (std::size_t i = 0; i < high.size(); ++i) high[i] = u8(std::lround(128 + 100 * std::sin(2 * M_PI * 800.0 * i / kRate)));
    v.dataBlock(0x00, low).dataBlock(0x00, high);
    v.commands({0x52, 0x2B, 0x80, 0x90, 0x00, 0x02, 0x00, 0x2A, 0x91, 0x00, 0x00, 0x01, 0x00,
                0x92, 0x00, le(kRate, 0), le(kRate, 1), le(kRate, 2), le(kRate, 3)});
    std::vector<std::pair<std::uint32_t, int>> events;
    std::uint32_t now = 0;
    auto start = [&](std::uint8_t mode, std::uint32_t length) {
        v.commands({0x93, 0x00, 0, 0, 0, 0, mode, le(length, 0), le(length, 1), le(length, 2), le(length, 3)});
    };
    auto pause = [&](std::uint32_t samples) {
        v.wait(samples);
        now += samples;
    };
    start(0x01, 1600); // 1600 samples: 0.1 s
    events.push_back({now, 1});
    events.push_back({now + 4410, 0});
    pause(22050);
    v.commands({0x95, 0x00, 0x01, 0x00, 0x00}); // block 1: 800 samples, 0.05 s
    events.push_back({now, 1});
    events.push_back({now + 2205, 0});
    pause(22050);
    start(0x81, 1600); // looped, until stopped
    events.push_back({now, 1});
    pause(22050);
    v.commands({0x94, 0x00});
    events.push_back({now, 0});
    pause(22050);
    start(0x02, 50); // 50 ms
    events.push_back({now, 1});
    events.push_back({now + 2205, 0});
    pause(22050);
    v.commands({0x95, 0x00, 0x00, 0x00, 0x01}); // block 0, looped, stopped by 0x94 0xFF
    events.push_back({now, 1});
    pause(11025);
    v.commands({0x94, 0xFF});
    events.push_back({now, 0});
    pause(11025);
    return {{"dac-streams", v.finish("dac-streams"), static_cast<double>(now) / 44100.0}, events, {400, 800}};
}

// A minute of a 22 kHz 0x8n stream with FM writes every 4 samples and PSG notes
// every second: the PSG must keep its time.
inline Song densePcm()
{
    VgmBuilder v = ymStart();
    v.dataBlock(0x00, drumSound(44100, 500, 22050));
    v.commands({0x52, 0x2B, 0x80});
    v.loopHere(); // two seconds, played thirty times: a minute would not fit in 1 MiB
    std::uint32_t k = 0;
    for (int second = 0; second < 2; ++second) {
        tone(v, 0, 57 + 5 * second, second % 2 ? 0 : 6);
        v.commands({0xE0, 0, 0, 0, 0});
        std::uint32_t done = 0;
        while (done + 2 <= 44100 - 1000) {
            v.commands({0x82});
            done += 2;
            if (++k % 2 == 0) v.commands({0x52, u8(0xA0 + k % 3), u8(k), 0x53, u8(0x40 + k % 16), u8(k >> 3)});
        }
        v.wait(44100 - done);
    }
    return {"dense-pcm", v.finish("dense-pcm"), 60.0};
}

// A square wave through DAC writes, panned left for a quarter second, then right.
inline Song dacPan()
{
    VgmBuilder v = ymStart();
    v.commands({0x52, 0x2B, 0x80});
    for (const std::uint8_t pan : {0x80, 0x40}) {
        v.commands({0x53, 0xB6, pan});
        for (int i = 0; i < 441; ++i) {
            v.commands({0x52, 0x2A, u8(i % 2 ? 0x20 : 0xE0)});
            v.wait(25);
        }
    }
    return {"dac-pan", v.finish("dac-pan"), 0.5};
}

// A seek past the data bank: the reads that follow give silence.
inline Song seekBeyond()
{
    VgmBuilder v = ymStart();
    v.dataBlock(0x00, drumSound(2000, 300, 22050));
    v.commands({0x52, 0x2B, 0x80, 0xE0, 0x00, 0x10, 0x00, 0x00}); // 4096: past the 2000 bytes
    for (int i = 0; i < 5000; ++i) v.commands({0x82});
    v.commands({0xE0, 0xFF, 0xFF, 0xFF, 0x7F}); // far beyond anything
    for (int i = 0; i < 5000; ++i) v.commands({0x82});
    return {"seek-beyond", v.finish("seek-beyond"), 0.5};
}

// An FM instrument: algorithm, feedback, the total level of each operator (S1, S2,
// S3, S4 as the chip numbers them), envelope rates and levels, each operator's multiple
// and detune, pan.
struct FmVoice {
    unsigned algorithm = 0, feedback = 0;
    unsigned level[4] = {40, 40, 40, 0};
    unsigned attack = 31, decay = 8, sustain = 3, decay2 = 2, release = 6;
    unsigned multiple[4] = {1, 1, 1, 1}, detune[4] = {0, 0, 0, 0};
    unsigned pan = 0xC0;
};

// The write of `value` to register `reg` of FM channel `channel` (0-5).
inline void fmWrite(VgmBuilder& v, unsigned channel, unsigned reg, unsigned value)
{
    v.commands({u8(channel < 3 ? 0x52 : 0x53), u8(reg + channel % 3), u8(value)});
}

inline void fmInstrument(VgmBuilder& v, unsigned channel, const FmVoice& voice)
{
    static constexpr unsigned kSlot[4] = {0, 8, 4, 12}; // S1, S2, S3, S4 in register order
    for (unsigned op = 0; op < 4; ++op) {
        fmWrite(v, channel, 0x30 + kSlot[op], voice.detune[op] << 4 | voice.multiple[op]);
        fmWrite(v, channel, 0x40 + kSlot[op], voice.level[op]);
        fmWrite(v, channel, 0x50 + kSlot[op], voice.attack);
        fmWrite(v, channel, 0x60 + kSlot[op], voice.decay);
        fmWrite(v, channel, 0x70 + kSlot[op], voice.decay2);
        fmWrite(v, channel, 0x80 + kSlot[op], voice.sustain << 4 | voice.release);
        fmWrite(v, channel, 0x90 + kSlot[op], 0);
    }
    fmWrite(v, channel, 0xB0, voice.feedback << 3 | voice.algorithm);
    fmWrite(v, channel, 0xB4, voice.pan);
}

inline std::uint8_t fmKeyCode(unsigned channel) { return u8(channel % 3 + (channel < 3 ? 0 : 4)); }

inline void fmFrequency(VgmBuilder& v, unsigned channel, unsigned fnum, unsigned block)
{
    fmWrite(v, channel, 0xA4, block << 3 | fnum >> 8);
    fmWrite(v, channel, 0xA0, fnum & 0xFF);
}

// Key-on (of the operators in `operators`, bits 4-7: S1-S4) or key-off.
inline void fmKey(VgmBuilder& v, unsigned channel, bool on, unsigned operators = 0xF0)
{
    v.commands({0x52, 0x28, u8((on ? operators : 0x00) | fmKeyCode(channel))});
}

// The F-number and block of `hz` (the block that keeps the F-number below 2048).
inline std::pair<unsigned, unsigned> fmPitch(double hz)
{
    for (unsigned block = 0; block < 8; ++block) {
        const double fnum = hz * 144 * (1 << 21) / kYmClock / (1 << block);
        if (fnum < 2047.5) return {static_cast<unsigned>(std::lround(fnum)), block};
    }
    return {2047, 7};
}

// Key-on of MIDI note `midi` on FM channel `channel`.
inline void fmNote(VgmBuilder& v, unsigned channel, int midi)
{
    const auto [fnum, block] = fmPitch(midiHz(midi));
    fmFrequency(v, channel, fnum, block);
    fmKey(v, channel, true);
}

// Every algorithm holding notes in all eight blocks, each on its own channel (the
// algorithm number modulo 6), with modulators from faint to deep.
inline Song fmAlgorithms()
{
    VgmBuilder v = ymStart();
    for (unsigned algorithm = 0; algorithm < 8; ++algorithm) {
        const unsigned channel = algorithm % 6;
        FmVoice voice;
        voice.algorithm = algorithm;
        voice.feedback = algorithm % 4 * 2;
        const unsigned depth = 24 + 8 * (algorithm % 4); // the modulators' level
        voice.level[0] = depth;
        voice.level[1] = algorithm >= 4 ? 8 : depth;
        voice.level[2] = algorithm >= 5 ? 12 : depth + 6;
        voice.level[3] = 4;
        voice.sustain = 2;
        voice.decay = 6;
        fmInstrument(v, channel, voice);
        for (unsigned block = 0; block < 8; ++block) {
            fmFrequency(v, channel, block < 4 ? 1200 : 600, block); // 30.5 Hz to 1.95 kHz
            fmKey(v, channel, true);
            v.wait(13230); // 0.3 s
            fmKey(v, channel, false);
            v.wait(2205);
        }
    }
    return {"fm-algorithms", v.finish("fm-algorithms"), 8 * 8 * 15435 / 44100.0};
}

// A melody with key-off releases on channel 1, a held note with vibrato on channel 2,
// channel 3 in special mode (the other operators' frequencies set elsewhere, and
// they silent), a bass on channel 4 panned left, a chord of all six channels, the DAC
// off: what a song's FM part does.
inline Song fmSong()
{
    VgmBuilder v = ymStart();
    FmVoice lead;
    lead.algorithm = 4;
    lead.level[0] = 30, lead.level[1] = 6, lead.level[2] = 34, lead.level[3] = 6;
    lead.release = 5;
    FmVoice pad;
    pad.algorithm = 7;
    pad.level[0] = pad.level[1] = pad.level[2] = pad.level[3] = 14;
    pad.attack = 24, pad.decay = 2, pad.sustain = 1, pad.release = 4;
    FmVoice bass;
    bass.algorithm = 0, bass.feedback = 5;
    bass.level[0] = 24, bass.level[1] = 30, bass.level[2] = 28, bass.level[3] = 2;
    bass.decay = 10, bass.sustain = 6, bass.release = 8, bass.pan = 0x80;
    for (unsigned c = 0; c < 6; ++c) fmInstrument(v, c, c == 3 ? bass : c == 0 ? lead : pad);
    // Melody and bass.
    const int melody[] = {72, 74, 76, 77, 79, 77, 76, 74, 72, 67, 69, 71};
    for (std::size_t i = 0; i < 12; ++i) {
        fmNote(v, 0, melody[i]);
        if (i % 2 == 0) fmNote(v, 3, 36 + static_cast<int>(i % 4) * 2 + (i >= 8 ? 7 : 0));
        v.wait(8820); // 0.2 s
        fmKey(v, 0, false);
        if (i % 2 == 1) fmKey(v, 3, false);
        v.wait(2205);
    }
    // Vibrato on channel 2: the F-number swings 1% every 10 ms.
    const auto [fnum, block] = fmPitch(midiHz(64));
    fmFrequency(v, 1, fnum, block);
    fmKey(v, 1, true);
    for (int i = 0; i < 100; ++i) {
        fmFrequency(v, 1, static_cast<unsigned>(std::lround(fnum * (1 + 0.01 * std::sin(i * 0.6)))), block);
        v.wait(441);
    }
    fmKey(v, 1, false);
    v.wait(4410);
    // Channel 3 in special mode: operators 1-3 at other frequencies; the note is
    // operator 4's (0xA2/0xA6).
    v.commands({0x52, 0x27, 0x40});
    for (unsigned r : {0xA8u, 0xA9u, 0xAAu}) {
        v.commands({0x52, u8(r + 4), 0x22, 0x52, u8(r), 0x80});
    }
    for (unsigned slot : {0u, 4u, 8u}) fmWrite(v, 2, 0x40 + slot, 127); // operator 4 alone
    fmNote(v, 2, 69);
    v.wait(22050);
    fmKey(v, 2, false);
    v.commands({0x52, 0x27, 0x00});
    v.wait(4410);
    // A chord on all six channels.
    const int chord[] = {60, 64, 67, 72, 76, 79};
    for (unsigned c = 0; c < 6; ++c) fmNote(v, c, chord[c]);
    v.wait(44100);
    for (unsigned c = 0; c < 6; ++c) fmKey(v, c, false);
    v.wait(11025);
    return {"fm-song", v.finish("fm-song"), 262395 / 44100.0};
}

// Patches of real Mega Drive songs whose pitch is not operator 4's: algorithm 1 with
// multiples 1, 3, 2, 3 (registers 0x30, 0x34, 0x38, 0x3C) under deep modulators (the
// note is the F-number's); algorithm 2 with multiples 0, 0, 2, 7 (the note is half
// of it); algorithm 6 keyed on S1 and S2 alone (0x28 value 0x32), its S3 and S4 at
// total level 127; a staccato bass line detuned (DT1 3 and 7) on F-numbers a driver uses; an
// organ of multiples 1, 2, 3, 4 (algorithm 7); algorithm 4 with both carriers at
// multiple 2 under faint modulators (the note is twice the F-number's). 12 s.
inline Song fmPatches()
{
    VgmBuilder v = ymStart();
    FmVoice voices[6];
    voices[0].algorithm = 1, voices[0].feedback = 3;
    voices[0].level[0] = 13, voices[0].level[1] = 29, voices[0].level[2] = 21, voices[0].level[3] = 4;
    voices[0].multiple[0] = 1, voices[0].multiple[1] = 2, voices[0].multiple[2] = 3, voices[0].multiple[3] = 3;
    voices[1].algorithm = 2;
    voices[1].level[0] = 5, voices[1].level[1] = 13, voices[1].level[2] = 9, voices[1].level[3] = 2;
    voices[1].multiple[0] = 0, voices[1].multiple[1] = 2, voices[1].multiple[2] = 0, voices[1].multiple[3] = 7;
    voices[2].algorithm = 6;
    voices[2].level[0] = 30, voices[2].level[1] = 2, voices[2].level[2] = 127, voices[2].level[3] = 127;
    voices[3].algorithm = 0, voices[3].feedback = 5;
    voices[3].level[0] = 30, voices[3].level[1] = 34, voices[3].level[2] = 32, voices[3].level[3] = 2;
    voices[3].detune[0] = voices[3].detune[1] = 3, voices[3].detune[2] = voices[3].detune[3] = 7;
    voices[3].decay = 4, voices[3].sustain = 2;
    voices[4].algorithm = 7;
    voices[4].level[0] = 10, voices[4].level[1] = 14, voices[4].level[2] = 18, voices[4].level[3] = 22;
    voices[4].multiple[0] = 1, voices[4].multiple[1] = 2, voices[4].multiple[2] = 3, voices[4].multiple[3] = 4;
    voices[5].algorithm = 4;
    voices[5].level[0] = 90, voices[5].level[1] = 6, voices[5].level[2] = 90, voices[5].level[3] = 8;
    voices[5].multiple[0] = 1, voices[5].multiple[1] = 2, voices[5].multiple[2] = 1, voices[5].multiple[3] = 2;
    for (unsigned c = 0; c < 6; ++c) {
        voices[c].decay = c == 3 ? 4 : 3, voices[c].sustain = 2;
        fmInstrument(v, c, voices[c]);
    }
    fmWrite(v, 2, 0x54, 0), fmWrite(v, 2, 0x5C, 0); // S3 and S4 of the partial key-on never attack
    // The bass's F-numbers: a driver's table from 644 (C) up, blocks 2 and 3.
    const unsigned bass[8] = {644, 724, 812, 861, 966, 1084, 1217, 1289};
    const int tunes[5][8] = {{48, 50, 52, 53, 55, 57, 59, 60},
                             {60, 64, 67, 72, 69, 65, 62, 59},
                             {55, 57, 59, 60, 62, 64, 66, 67},
                             {72, 71, 69, 67, 65, 64, 62, 60},
                             {45, 47, 48, 50, 52, 53, 55, 57}};
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 8; ++i) {
            for (unsigned c = 0; c < 6; ++c) {
                if (c == 3) {
                    fmFrequency(v, 3, bass[(i + round) % 8], 2 + static_cast<unsigned>(round % 2));
                    fmKey(v, 3, true);
                } else {
                    const int note = tunes[c < 3 ? c : c - 1][i] + (round >= 2 ? 12 : 0);
                    const auto [fnum, block] = fmPitch(midiHz(note));
                    fmFrequency(v, c, fnum, block);
                    fmKey(v, c, true, c == 2 ? 0x30 : 0xF0);
                }
            }
            v.wait(6615); // the bass for 0.15 s, the others 0.3 s
            fmKey(v, 3, false);
            v.wait(6615);
            for (unsigned c = 0; c < 6; ++c) fmKey(v, c, false);
            v.wait(3308);
        }
    }
    return {"fm-patches", v.finish("fm-patches"), 32 * 16538 / 44100.0};
}

// A kick then a snare, a quarter second each at 11025 Hz, as the song's data block;
// returns the kick.
inline Bytes kickThenSnare(VgmBuilder& v)
{
    const Bytes kick = drumSound(2756, 90, 11025), snare = drumSound(2756, 700, 11025);
    Bytes drums = kick;
    drums.insert(drums.end(), snare.begin(), snare.end());
    v.dataBlock(0x00, drums);
    return kick;
}

// A lead (algorithm 4, two loud carriers) and a bass (algorithm 0, feedback 4) for the
// whole songs.
inline FmVoice leadVoice()
{
    FmVoice lead;
    lead.algorithm = 4;
    lead.level[0] = 32, lead.level[1] = 6, lead.level[2] = 36, lead.level[3] = 6;
    return lead;
}

inline FmVoice bassVoice()
{
    FmVoice bass;
    bass.algorithm = 0, bass.feedback = 4;
    bass.level[0] = 30, bass.level[1] = 34, bass.level[2] = 32, bass.level[3] = 2;
    bass.decay = 10, bass.sustain = 5, bass.release = 8;
    return bass;
}

// A whole song: a lead, two pad voices, a bass, an arpeggio and a counter-melody on the
// six FM channels, the last until the DAC takes over at 4 s with drums from the data
// bank, and the SN76489 with a melody and hi-hats, 8 s at 120 beats a minute.
inline Song fmFullSong()
{
    VgmBuilder v = ymStart();
    const Bytes kick = kickThenSnare(v);
    const FmVoice lead = leadVoice();
    FmVoice pad;
    pad.algorithm = 7;
    pad.level[0] = pad.level[1] = pad.level[2] = pad.level[3] = 20;
    pad.attack = 26, pad.decay = 2, pad.sustain = 1, pad.release = 5;
    const FmVoice bass = bassVoice();
    FmVoice pluck;
    pluck.algorithm = 5;
    pluck.level[0] = 40, pluck.level[1] = 14, pluck.level[2] = 14, pluck.level[3] = 14;
    pluck.decay = 14, pluck.sustain = 8, pluck.release = 9;
    const FmVoice voices[6] = {lead, pad, pad, bass, pluck, lead};
    for (unsigned c = 0; c < 6; ++c) fmInstrument(v, c, voices[c]);
    const int roots[4] = {57, 53, 48, 55}; // A minor, F, C, G
    const int melody[16] = {76, 74, 72, 71, 72, 74, 76, 79, 77, 76, 74, 72, 71, 72, 74, 71};
    constexpr std::uint32_t kHalfBeat = 5512;
    bool dac = false;
    for (int beat = 0; beat < 32; ++beat) {
        const int root = roots[beat / 8 % 4];
        if (beat % 8 == 0) fmNote(v, 1, root + 12), fmNote(v, 2, root + 16);
        if (beat % 2 == 0) fmNote(v, 0, melody[beat / 2]);
        fmNote(v, 3, root - 12);
        fmNote(v, 4, root + 24 + (beat % 4) * 3);
        if (!dac && beat % 4 == 0) fmNote(v, 5, root + 19);
        if (beat % 2 == 0) tone(v, 2, melody[(beat / 2 + 3) % 16] - 12, 3);
        if (beat == 16) {
            fmKey(v, 5, false);
            v.commands({0x52, 0x2B, 0x80});
            dac = true;
        }
        for (int half = 0; half < 2; ++half) {
            if (dac) {
                if (half == 0) {
                    const std::uint32_t at = beat % 2 ? static_cast<std::uint32_t>(kick.size()) : 0;
                    v.commands({0xE0, le(at, 0), le(at, 1), le(at, 2), le(at, 3)});
                }
                for (std::uint32_t n = 0; n < kHalfBeat / 4; ++n) v.commands({0x84});
            } else {
                v.wait(kHalfBeat);
            }
            if (half == 0) {
                fmKey(v, 3, false);
                fmKey(v, 4, false);
                if (beat % 2 == 1) fmKey(v, 0, false);
                if (beat % 8 == 5) fmKey(v, 1, false), fmKey(v, 2, false);
                if (!dac && beat % 4 == 2) fmKey(v, 5, false);
                v.commands({0x50, 0xE4, 0x50, 0xF4}); // a hi-hat: white noise
            } else {
                v.commands({0x50, 0xFF, 0x50, 0xDF}); // the hi-hat and the PSG melody end
            }
        }
    }
    return {"fm-full", v.finish("fm-full"), 32 * 2 * 5512 / 44100.0};
}

// More voices than PSG channels: five FM channels (chords, a bass, an arpeggio), DAC
// drums on the sixth, and an SN76489 melody on tone 0 in notes of three quarters of a
// beat with rests between, 8 s at 120 beats a minute. The melody starts while every FM
// channel sounds: it must take its channel back from FM.
inline Song fmWithMelody()
{
    VgmBuilder v = ymStart();
    const Bytes kick = kickThenSnare(v);
    FmVoice pad;
    pad.algorithm = 4;
    pad.level[0] = 40, pad.level[1] = 12, pad.level[2] = 44, pad.level[3] = 12;
    pad.attack = 26, pad.decay = 2, pad.sustain = 1, pad.release = 5;
    FmVoice bass;
    bass.algorithm = 0, bass.feedback = 4;
    bass.level[0] = 30, bass.level[1] = 34, bass.level[2] = 32, bass.level[3] = 4;
    bass.decay = 10, bass.sustain = 5, bass.release = 8;
    FmVoice pluck;
    pluck.algorithm = 5;
    pluck.level[0] = 40, pluck.level[1] = 18, pluck.level[2] = 18, pluck.level[3] = 18;
    pluck.decay = 14, pluck.sustain = 8, pluck.release = 9;
    const FmVoice voices[5] = {pad, pad, pad, bass, pluck};
    for (unsigned c = 0; c < 5; ++c) fmInstrument(v, c, voices[c]);
    v.commands({0x52, 0x2B, 0x80});
    const int roots[4] = {57, 53, 48, 55};
    const int melody[16] = {76, 74, 72, 71, 72, 74, 76, 79, 77, 76, 74, 72, 71, 72, 74, 71};
    constexpr std::uint32_t kQuarter = 5512 / 2; // a quarter of a beat
    for (int beat = 0; beat < 16; ++beat) {
        const int root = roots[beat / 4 % 4];
        if (beat % 4 == 0) {
            for (unsigned c = 0; c < 3; ++c) fmKey(v, c, false);
            fmNote(v, 0, root + 12), fmNote(v, 1, root + 16), fmNote(v, 2, root + 19);
        }
        fmNote(v, 3, root - 12);
        tone(v, 0, melody[beat] + (beat % 2 ? 0 : -12), 2);
        const std::uint32_t at = beat % 2 ? static_cast<std::uint32_t>(kick.size()) : 0;
        v.commands({0xE0, le(at, 0), le(at, 1), le(at, 2), le(at, 3)});
        for (int quarter = 0; quarter < 4; ++quarter) {
            if (quarter % 2 == 0) fmNote(v, 4, root + 24 + quarter * 2);
            for (std::uint32_t n = 0; n < kQuarter / 4; ++n) v.commands({0x84});
            if (quarter == 1) fmKey(v, 4, false);
            if (quarter == 2) fmKey(v, 3, false), v.commands({0x50, 0x9F}); // the melody rests
            if (quarter == 3) fmKey(v, 4, false);
        }
    }
    return {"fm-melody", v.finish("fm-melody"), 16 * 4 * (kQuarter / 4 * 4) / 44100.0};
}

// A minute of what a dense Mega Drive log does: every frame (735 samples) all six
// channels' instruments written again and their frequencies set (180 FM writes), an
// 11 kHz 0x8n stream from the data bank through the frame, a key-on on channel 1
// every second, quiet and loud in turn, to time the player by, and channels 2-5
// holding chords of four carriers each (the most envelopes the player moves on in a
// tick). `writes` FM writes a frame in all (180 or more).
inline Song denseFm(unsigned writes = 180)
{
    VgmBuilder v = ymStart();
    v.dataBlock(0x00, drumSound(44100, 300, 11025));
    v.commands({0x52, 0x2B, 0x80});
    FmVoice voice;
    voice.algorithm = 4;
    voice.level[0] = 30, voice.level[1] = 8, voice.level[2] = 34, voice.level[3] = 8;
    voice.decay = 0, voice.sustain = 0, voice.decay2 = 0;
    FmVoice organ; // channels 2-5: four carriers each, every one with its own envelope
    organ.algorithm = 7;
    organ.level[0] = 20, organ.level[1] = 24, organ.level[2] = 28, organ.level[3] = 22;
    organ.multiple[1] = 2, organ.multiple[2] = 3, organ.multiple[3] = 4;
    v.loopHere(); // two seconds, played thirty times
    for (int second = 0; second < 2; ++second) {
        voice.level[1] = voice.level[3] = second == 0 ? 30 : 8; // quiet, then loud
        for (unsigned c = 0; c < 5; ++c) fmKey(v, c, false);
        v.commands({0xE0, 0, 0, 0, 0});
        for (int frame = 0; frame < 60; ++frame) {
            unsigned written = 0;
            for (unsigned c = 0; c < 6; ++c) {
                fmInstrument(v, c, c >= 1 && c <= 4 ? organ : voice); // 30 writes
                written += 30;
            }
            for (unsigned extra = written; extra < writes; ++extra) fmWrite(v, extra % 6, 0x40, voice.level[0]);
            if (frame == 0) {
                const auto [fnum, block] = fmPitch(second == 0 ? 440.0 : 330.0);
                fmFrequency(v, 0, fnum, block);
                fmKey(v, 0, true);
                for (unsigned c = 1; c < 5; ++c) fmNote(v, c, 48 + 4 * static_cast<int>(c) + second);
            }
            for (int n = 0; n < 735 / 4; ++n) v.commands({0x84});
            v.wait(735 - 735 / 4 * 4);
        }
    }
    return {"dense-fm", v.finish("dense-fm"), 60.0};
}

// Loudness of every kind of patch, one song a seed: six FM channels, each its own
// algorithm (seed + channel, so that two seeds cover all eight), whose carriers hold,
// decay and release at rates and levels of their own (slow attacks, sustain at full,
// long releases), with detune, half multiples (0), a carrier too quiet to hear now and
// then, and total-level slides during notes on some (drivers fade volume that way).
// Notes of 0.3-0.9 s with rests, over 6 s.
inline Song fmLevels(unsigned seed)
{
    VgmBuilder v = ymStart();
    std::uint32_t state = seed * 2654435761u + 1;
    const auto next = [&state](unsigned n) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % n;
    };
    static constexpr unsigned kSlot[4] = {0, 8, 4, 12}; // S1, S2, S3, S4 in register order
    static constexpr unsigned kCarriers[8] = {0x8, 0x8, 0x8, 0x8, 0xA, 0xE, 0xE, 0xF}; // bit n: S(n+1)
    unsigned carrierLevel[6][4] = {};
    bool slides[6] = {};
    for (unsigned c = 0; c < 6; ++c) {
        const unsigned algorithm = (seed + c) % 8;
        fmWrite(v, c, 0xB0, next(8) << 3 | algorithm);
        fmWrite(v, c, 0xB4, 0xC0);
        slides[c] = next(3) == 0;
        for (unsigned op = 0; op < 4; ++op) {
            const bool carrier = kCarriers[algorithm] >> op & 1;
            unsigned level = carrier ? next(28) : 20 + next(40);
            if (carrier && op != 3 && next(6) == 0) level = 70 + next(30); // too quiet to hear
            carrierLevel[c][op] = carrier ? level : 0;
            const unsigned multiple = next(4) == 0 ? 0 : 1 + next(carrier ? 2 : 4);
            fmWrite(v, c, 0x30 + kSlot[op], next(8) << 4 | multiple);
            fmWrite(v, c, 0x40 + kSlot[op], level);
            fmWrite(v, c, 0x50 + kSlot[op], next(2) << 6 | (next(4) == 0 ? 12 + next(10) : 31));
            fmWrite(v, c, 0x60 + kSlot[op], next(3) == 0 ? 0 : 2 + next(14));
            fmWrite(v, c, 0x70 + kSlot[op], next(3) == 0 ? 0 : 1 + next(8));
            fmWrite(v, c, 0x80 + kSlot[op], next(12) << 4 | (3 + next(10)));
            fmWrite(v, c, 0x90 + kSlot[op], 0);
        }
    }
    constexpr std::uint32_t kStep = 441; // 10 ms
    std::uint32_t until[6] = {}, off[6] = {};
    bool keyed[6] = {};
    for (std::uint32_t t = 0; t < 600; ++t) {
        for (unsigned c = 0; c < 6; ++c) {
            if (keyed[c] && t == off[c]) {
                fmKey(v, c, false);
                keyed[c] = false;
            }
            if (!keyed[c] && t >= until[c] && t < 560) {
                fmNote(v, c, 45 + static_cast<int>(next(30)));
                keyed[c] = true;
                off[c] = t + 30 + next(60);
                until[c] = off[c] + 5 + next(40);
            }
            if (keyed[c] && slides[c] && t % 3 == 0) { // the carriers fade, a step each 30 ms
                for (unsigned op = 0; op < 4; ++op) {
                    if (carrierLevel[c][op] == 0 || carrierLevel[c][op] >= 60) continue;
                    fmWrite(v, c, 0x40 + kSlot[op], ++carrierLevel[c][op]);
                }
            }
        }
        v.wait(kStep);
    }
    for (unsigned c = 0; c < 6; ++c) fmKey(v, c, false);
    v.wait(22050);
    return {"fm-levels-" + std::to_string(seed), v.finish("fm-levels"), 6.5};
}

// Algorithm 5 as a real pad writes it: feedback 6, every operator at multiple 2 and
// attack rate 31; S1 (total level 18) modulates three carriers at total level 31; S3
// falls to sustain level 4 (first decay rate 18), S2 and S4 hold at full level. Four
// long notes: the chip holds each steady, its three carriers adding about 9.5 dB.
inline Song fmPad()
{
    VgmBuilder v = ymStart();
    static constexpr unsigned kSlot[4] = {0, 8, 4, 12};
    const unsigned level[4] = {18, 31, 31, 31}, decay[4] = {0, 0, 18, 0}, sustain[4] = {0, 0, 4, 0};
    for (unsigned op = 0; op < 4; ++op) {
        fmWrite(v, 0, 0x30 + kSlot[op], 2);
        fmWrite(v, 0, 0x40 + kSlot[op], level[op]);
        fmWrite(v, 0, 0x50 + kSlot[op], 31);
        fmWrite(v, 0, 0x60 + kSlot[op], decay[op]);
        fmWrite(v, 0, 0x70 + kSlot[op], 0);
        fmWrite(v, 0, 0x80 + kSlot[op], sustain[op] << 4 | 5);
    }
    fmWrite(v, 0, 0xB0, 6 << 3 | 5);
    fmWrite(v, 0, 0xB4, 0xC0);
    for (int n = 0; n < 4; ++n) {
        fmNote(v, 0, 57 + 3 * n);
        v.wait(30000);
        fmKey(v, 0, false);
        v.wait(3000);
    }
    return {"fm-pad", v.finish("fm-pad"), 3.0};
}

// The three parts of a Mega Drive song together: FM on channels 1 and 2 (a lead and a
// bass), DAC drums from the data bank, an SN76489 melody on tone 2 (PSG channel 2),
// 6 s. Each part's level against the VGM's shows the console's balance.
inline Song mixBalance()
{
    VgmBuilder v = ymStart();
    const Bytes kick = kickThenSnare(v);
    fmInstrument(v, 0, leadVoice());
    fmInstrument(v, 1, bassVoice());
    v.commands({0x52, 0x2B, 0x80});
    const int melody[8] = {72, 74, 76, 79, 77, 76, 74, 71};
    constexpr std::uint32_t kBeat = 11025;
    for (int beat = 0; beat < 24; ++beat) {
        fmNote(v, 0, 64 + beat % 5 * 2);
        fmNote(v, 1, 40 + (beat / 4 % 2) * 5);
        tone(v, 2, melody[beat % 8], 2 + beat % 3 * 2);
        const std::uint32_t at = beat % 2 ? static_cast<std::uint32_t>(kick.size()) : 0;
        v.commands({0xE0, le(at, 0), le(at, 1), le(at, 2), le(at, 3)});
        for (std::uint32_t n = 0; n < kBeat * 3 / 4 / 4; ++n) v.commands({0x84});
        fmKey(v, 0, false);
        v.commands({0x50, 0xDF});
        v.wait(kBeat / 4);
        fmKey(v, 1, false);
    }
    return {"mix-balance", v.finish("mix-balance"), 6.0};
}

// One FM patch as a driver sets it: the channel's 0xB0 (feedback, algorithm) and 0xB4,
// the operators keyed (0x28 bits 4-7), the note's F-number and block, and for S1, S2,
// S3, S4 the registers 0x30, 0x40, 0x50, 0x60, 0x70, 0x80 and 0x90.
struct HeldPatch {
    unsigned algorithmFeedback = 0;
    unsigned pan = 0xC0;
    unsigned keyed = 0xF0;
    unsigned fnum = 1084;
    unsigned block = 4;
    unsigned ops[4][7] = {};
};

// `patch` as a held note on channel 1: 1.2 s keyed, then 0.6 s of release.
inline Song heldNote(const HeldPatch& patch, const std::string& name)
{
    VgmBuilder v = ymStart();
    static constexpr unsigned kSlot[4] = {0, 8, 4, 12};
    v.commands({0x52, 0x22, 0x00, 0x52, 0x27, 0x00, 0x52, 0x2B, 0x00});
    for (unsigned op = 0; op < 4; ++op) {
        for (unsigned r = 0; r < 7; ++r) fmWrite(v, 0, 0x30 + 0x10 * r + kSlot[op], patch.ops[op][r]);
    }
    fmWrite(v, 0, 0xB0, patch.algorithmFeedback);
    fmWrite(v, 0, 0xB4, patch.pan);
    fmFrequency(v, 0, patch.fnum, patch.block);
    fmKey(v, 0, true, patch.keyed);
    v.wait(52920);
    fmKey(v, 0, false);
    v.wait(26460);
    return {name, v.finish(name), 1.8};
}

} // namespace quorvel::songs
