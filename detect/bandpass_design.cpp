// Design of the band-pass kernel from the Mexican-hat filter bank.
#include "bandpass_design.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "onset.h"

namespace detect {

namespace {

const double pi = 3.14159265358979323846;

}  // namespace

double scale_for_frequency(double rate, double frequency)
{
    // A Mexican hat of scale s samples has the spectrum w^2 s^2 exp(-w^2 s^2 / 2)
    // (w in radians per sample), largest at w = sqrt(2) / s.
    return rate * std::sqrt(2.0) / (2.0 * pi * frequency);
}

Ladder scale_ladder(double rate, double fmin, double fmax, unsigned voices)
{
    // Up to 0.9 of the Nyquist frequency, where the wavelets are still a few
    // samples wide.
    const double top = std::min(fmax * std::sqrt(2.0), std::max(fmax, 0.45 * rate));
    const double first = scale_for_frequency(rate, top);
    const double octaves = std::log2(scale_for_frequency(rate, fmin) / first);
    return {first, static_cast<uint32_t>(std::ceil(voices * octaves - 1e-9)) + 1};
}

double bandpass_length(double rate, double fmin, double fmax, unsigned voices)
{
    const Ladder ladder = scale_ladder(rate, fmin, fmax, voices);
    const double widest = ladder.first * std::exp2((ladder.count - 1.0) / voices);
    return 2.0 * std::ceil(8.0 * widest) + 1.0;
}

double bandpass_gain(const BandPass &filter, double rate, double frequency)
{
    const double w = 2.0 * pi * frequency / rate;
    double re = 0.0, im = 0.0;
    for (size_t k = 0; k < filter.kernel.size(); ++k) {
        const double t = static_cast<double>(k) - filter.center;
        re += filter.kernel[k] * std::cos(w * t);
        im += filter.kernel[k] * std::sin(w * t);
    }
    return std::hypot(re, im);
}

BandPass make_bandpass(double rate, double fmin, double fmax, unsigned voices)
{
    const Ladder ladder = scale_ladder(rate, fmin, fmax, voices);
    const double smallest = ladder.first;
    const uint32_t count = ladder.count;

    std::vector<double> scales(count);
    std::vector<uint32_t> lengths(count), steps(count);
    std::vector<int32_t> centers(count);
    setscales0(scales.data(), count, voices, smallest, 2.0);
    setwaveletlength0(lengths.data(), scales.data(), count, std::numeric_limits<uint32_t>::max());
    setsampling0(steps.data(), count, 1, voices, 0, smallest, 2.0, 0.0);
    // The returned bound wraps at 2^32: add the lengths up in full width.
    size_t total = 0;
    for (uint32_t length : lengths) total += length;
    std::vector<double> storage(total);
    std::vector<double *> wavelets(count);
    wavelets[0] = storage.data();
    WaveletFamily family{wavelets.data(), scales.data(), lengths.data(), centers.data(),
                         steps.data(), 0.0, 0.0, count};
    FillWaveletFamily(&family);

    BandPass filter;
    const uint32_t longest = *std::max_element(lengths.begin(), lengths.end());
    filter.kernel.assign(longest, 0.0);
    filter.center = static_cast<int32_t>(longest >> 1);
    for (uint32_t i = 0; i < count; ++i) {
        // Unit gain at the wavelet's own peak frequency; the sign flip makes
        // the kernel's response positive (the hat is negative at its centre).
        const double w = std::sqrt(2.0) / scales[i];
        double peak = 0.0;
        for (uint32_t k = 0; k < lengths[i]; ++k)
            peak += wavelets[i][k] * std::cos(w * (static_cast<double>(k) - centers[i]));
        const double weight = -1.0 / peak;
        const int32_t offset = filter.center - centers[i];
        for (uint32_t k = 0; k < lengths[i]; ++k) filter.kernel[offset + k] += weight * wavelets[i][k];
    }
    // Unit gain in the middle of the band (on a log scale).
    const double middle = bandpass_gain(filter, rate, std::sqrt(fmin * fmax));
    for (double &c : filter.kernel) c /= middle;
    return filter;
}

}  // namespace detect
