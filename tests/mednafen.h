// Mednafen, a PC Engine emulator more exact than libgme, as the player tests run it:
// an image in; the frame it shows and the sound it plays (48 kHz) out.
#pragma once

#include <string>
#include <vector>

namespace quorvel::test {

constexpr std::size_t kMednafenRate = 48000;

// Runs `file` in Mednafen for `seconds` (in real time): the frame shown then as a
// PNG, and the sound as a WAV. A failed run is a test failure.
void runMednafen(const std::string& file, double seconds, const std::string& png, const std::string& wav);

// A 16-bit WAV's samples, its channels added.
std::vector<double> readWav(const std::string& path);

// Loudness per 50 ms of `b` against `a` over `seconds` from half a second in, at the
// lag (in 10 ms steps, up to a second either way: the two start at their own time)
// where they are most alike.
double mednafenLikeness(const std::vector<double>& a, const std::vector<double>& b, double seconds);

} // namespace quorvel::test
