// Measuring renders: 44.1 kHz samples in, loudness, pitch, lag and correlation out.
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <vector>

namespace quorvel::test {

// Left plus right of interleaved stereo samples.
std::vector<double> mono(const std::vector<short>& stereo);

// RMS of `count` samples from `from` (samples past the end count as silence).
double rms(const std::vector<double>& s, std::size_t from, std::size_t count);

// Pearson correlation of two series of the same length.
double correlation(const std::vector<double>& x, const std::vector<double>& y);

// Samples by which `b` lags `a`: where their loudness, taken every millisecond over
// `spanMs` milliseconds, correlates best within `maxMs` milliseconds either way (over
// the first three seconds). Sparse pulses need a longer span than tones.
long lagOf(const std::vector<double>& a, const std::vector<double>& b, long maxMs = 40, std::size_t spanMs = 1);

// The fundamental frequency of `window` samples from `from`, between minHz and
// maxHz, from the signal's self-similarity (YIN's cumulative mean normalised
// difference): right for tones whose harmonics are as strong as the fundamental,
// such as narrow pulses. 0 when nothing periodic is found.
double fundamental(const std::vector<double>& s, std::size_t from, std::size_t window, double minHz, double maxHz);

// The average spectrum of `s` (Hann frames of 4096, half overlapping) as levels in dB
// of third-octave bands from 100 Hz up to `topHz`, each against the sum of them all.
std::vector<double> bandLevels(const std::vector<double>& s, double topHz);

// Frequency of the strongest spectral peak (40 Hz - 8 kHz) of `window` samples from
// `from` (Hann window, zero-padded, parabolic interpolation between bins).
class PeakFinder {
public:
    explicit PeakFinder(std::size_t window);
    ~PeakFinder();
    PeakFinder(const PeakFinder&) = delete;
    PeakFinder& operator=(const PeakFinder&) = delete;
    double operator()(const std::vector<double>& s, std::size_t from);

private:
    std::size_t window_;
    double* in_;
    fftw_complex* out_;
    fftw_plan plan_;
};

// Levels in dB (floored 50 dB below the strongest) of the semitone bands from C3 to
// B7 in 8192 samples (Hann window) from `from` of a render.
class SemitoneSpectra {
public:
    SemitoneSpectra();
    ~SemitoneSpectra();
    SemitoneSpectra(const SemitoneSpectra&) = delete;
    SemitoneSpectra& operator=(const SemitoneSpectra&) = delete;
    std::vector<double> operator()(const std::vector<double>& s, std::size_t from);

private:
    static constexpr std::size_t kFrame = 8192;
    double* in_;
    fftw_complex* out_;
    fftw_plan plan_;
    std::vector<std::size_t> edges_;
};

// The median over 10 ms steps of the correlation of two renders' semitone spectra,
// `b` read `lag` samples later, where `a` is not silent; `windows` counts the steps.
double medianSpectralCorrelation(const std::vector<double>& a, const std::vector<double>& b, long lag,
                                 std::size_t& windows);

} // namespace quorvel::test
