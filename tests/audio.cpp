// Measuring renders: 44.1 kHz samples in, loudness, pitch, lag and correlation out.
#include "tests/audio.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "tools/render.h"

namespace quorvel::test {

namespace {
constexpr std::size_t kFftSize = 16384;
}

std::vector<double> mono(const std::vector<short>& stereo)
{
    std::vector<double> out(stereo.size() / 2);
    for (std::size_t n = 0; n < out.size(); ++n) out[n] = stereo[2 * n] + stereo[2 * n + 1];
    return out;
}

double rms(const std::vector<double>& s, std::size_t from, std::size_t count)
{
    double sum = 0;
    for (std::size_t n = from; n < from + count && n < s.size(); ++n) sum += s[n] * s[n];
    return std::sqrt(sum / static_cast<double>(count));
}

double correlation(const std::vector<double>& x, const std::vector<double>& y)
{
    const double n = static_cast<double>(x.size());
    const double mx = std::accumulate(x.begin(), x.end(), 0.0) / n;
    const double my = std::accumulate(y.begin(), y.end(), 0.0) / n;
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxy / std::sqrt(sxx * syy);
}

long lagOf(const std::vector<double>& a, const std::vector<double>& b, long maxMs, std::size_t spanMs)
{
    const std::size_t block = kRenderRate / 1000, blocks = std::min(a.size(), b.size()) / block;
    std::vector<double> ea(blocks), eb(blocks);
    for (std::size_t n = 0; n < blocks; ++n) {
        ea[n] = rms(a, n * block, spanMs * block);
        eb[n] = rms(b, n * block, spanMs * block);
    }
    const std::size_t margin = static_cast<std::size_t>(maxMs), end = std::min<std::size_t>(blocks, 3000);
    long best = 0;
    double bestScore = -2;
    for (long lag = -maxMs; lag <= maxMs; ++lag) {
        std::vector<double> x, y;
        for (std::size_t n = margin; n + margin < end; ++n) {
            x.push_back(ea[n]);
            y.push_back(eb[static_cast<std::size_t>(static_cast<long>(n) + lag)]);
        }
        const double score = correlation(x, y);
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best * static_cast<long>(block);
}

double fundamental(const std::vector<double>& s, std::size_t from, std::size_t window, double minHz, double maxHz)
{
    const std::size_t shortest = static_cast<std::size_t>(kRenderRate / maxHz);
    const std::size_t longest = static_cast<std::size_t>(kRenderRate / minHz) + 1;
    if (from + window + longest + 1 > s.size()) return 0;
    std::vector<double> d(longest + 2);
    double sum = 0;
    for (std::size_t tau = 1; tau < d.size(); ++tau) {
        double diff = 0;
        for (std::size_t n = from; n < from + window; ++n) diff += (s[n] - s[n + tau]) * (s[n] - s[n + tau]);
        sum += diff;
        d[tau] = sum > 0 ? diff * static_cast<double>(tau) / sum : 1.0;
    }
    for (std::size_t tau = std::max<std::size_t>(shortest, 2); tau <= longest; ++tau) {
        if (d[tau] >= 0.2) continue;
        while (tau + 1 <= longest && d[tau + 1] < d[tau]) ++tau;
        const double a = d[tau - 1], b = d[tau], c = d[tau + 1];
        const double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
        return kRenderRate / (static_cast<double>(tau) + shift);
    }
    return 0;
}

std::vector<double> bandLevels(const std::vector<double>& s, double topHz)
{
    constexpr std::size_t kFrame = 4096;
    double* in = fftw_alloc_real(kFrame);
    fftw_complex* out = fftw_alloc_complex(kFrame / 2 + 1);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(kFrame), in, out, FFTW_ESTIMATE);
    std::vector<double> power(kFrame / 2 + 1);
    for (std::size_t from = 0; from + kFrame <= s.size(); from += kFrame / 2) {
        for (std::size_t n = 0; n < kFrame; ++n) {
            in[n] = s[from + n] * (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(n) / (kFrame - 1)));
        }
        fftw_execute(plan);
        for (std::size_t k = 0; k < power.size(); ++k) power[k] += out[k][0] * out[k][0] + out[k][1] * out[k][1];
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);

    std::vector<double> bands;
    double total = 0;
    for (double low = 100; low * std::cbrt(2.0) <= topHz; low *= std::cbrt(2.0)) {
        const auto bin = [](double hz) { return static_cast<std::size_t>(hz * kFrame / kRenderRate); };
        double sum = 0;
        for (std::size_t k = bin(low); k < bin(low * std::cbrt(2.0)); ++k) sum += power[k];
        bands.push_back(sum);
        total += sum;
    }
    for (double& b : bands) b = 10 * std::log10(b / total + 1e-12);
    return bands;
}

PeakFinder::PeakFinder(std::size_t window)
    : window_(window), in_(fftw_alloc_real(kFftSize)), out_(fftw_alloc_complex(kFftSize / 2 + 1)),
      plan_(fftw_plan_dft_r2c_1d(static_cast<int>(kFftSize), in_, out_, FFTW_ESTIMATE))
{
}

PeakFinder::~PeakFinder()
{
    fftw_destroy_plan(plan_);
    fftw_free(in_);
    fftw_free(out_);
}

double PeakFinder::operator()(const std::vector<double>& s, std::size_t from)
{
    for (std::size_t n = 0; n < kFftSize; ++n) {
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(n) / static_cast<double>(window_ - 1));
        in_[n] = n < window_ && from + n < s.size() ? s[from + n] * hann : 0.0;
    }
    fftw_execute(plan_);
    std::vector<double> mag(kFftSize / 2 + 1);
    for (std::size_t k = 0; k < mag.size(); ++k) mag[k] = std::hypot(out_[k][0], out_[k][1]);
    const std::size_t low = 40 * kFftSize / kRenderRate, high = 8000 * kFftSize / kRenderRate;
    const std::size_t k = std::max_element(mag.begin() + low, mag.begin() + high) - mag.begin();
    const double a = std::log(mag[k - 1] + 1e-9), b = std::log(mag[k] + 1e-9), c = std::log(mag[k + 1] + 1e-9);
    const double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
    return (static_cast<double>(k) + shift) * kRenderRate / kFftSize;
}

SemitoneSpectra::SemitoneSpectra() : in_(fftw_alloc_real(kFrame)), out_(fftw_alloc_complex(kFrame / 2 + 1))
{
    plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(kFrame), in_, out_, FFTW_ESTIMATE);
    for (int note = 48; note <= 108; ++note) {
        edges_.push_back(static_cast<std::size_t>(440 * std::pow(2.0, (note - 69.5) / 12) * kFrame / 44100));
    }
}

SemitoneSpectra::~SemitoneSpectra()
{
    fftw_destroy_plan(plan_);
    fftw_free(in_);
    fftw_free(out_);
}

std::vector<double> SemitoneSpectra::operator()(const std::vector<double>& s, std::size_t from)
{
    for (std::size_t n = 0; n < kFrame; ++n) {
        const double x = from + n < s.size() ? s[from + n] : 0.0;
        in_[n] = x * (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(n) / (kFrame - 1)));
    }
    fftw_execute(plan_);
    std::vector<double> bands(edges_.size() - 1);
    for (std::size_t b = 0; b + 1 < edges_.size(); ++b) {
        for (std::size_t k = edges_[b]; k < edges_[b + 1]; ++k) bands[b] += out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1];
    }
    const double top = *std::max_element(bands.begin(), bands.end());
    for (double& level : bands) level = 10 * std::log10(std::max(level, top * 1e-5) + 1e-30);
    return bands;
}

double medianSpectralCorrelation(const std::vector<double>& a, const std::vector<double>& b, long lag,
                                 std::size_t& windows)
{
    SemitoneSpectra spectra;
    std::vector<double> r;
    for (std::size_t from = 0; from + 8192 <= a.size(); from += 441) {
        if (rms(a, from, 8192) < 100 || static_cast<long>(from) + lag < 0) continue;
        r.push_back(correlation(spectra(a, from), spectra(b, static_cast<std::size_t>(static_cast<long>(from) + lag))));
    }
    windows = r.size();
    if (r.empty()) return 0;
    std::nth_element(r.begin(), r.begin() + static_cast<long>(r.size() / 2), r.end());
    return r[r.size() / 2];
}

} // namespace quorvel::test
