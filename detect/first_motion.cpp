// First motion: a line through the noise, then the first clear swing off it.
#include "first_motion.h"

#include <algorithm>
#include <cmath>

#include "settings.h"

namespace detect {

namespace {

// A pick pinned within this many seconds is sharp, as an impulsive onset.
constexpr double sharp_seconds = 0.05;
// The first swing stands out of the noise by this many noise peaks: the
// peak of half a second of Gaussian noise is 2.5 standard deviations, so
// the swing is 5 of them or more.
constexpr double swing_peaks = 2.0;

}  // namespace

FirstMotion::FirstMotion(double rate, int64_t noise)
    : sharp_(std::max<int64_t>(1, static_cast<int64_t>(std::floor(sharp_seconds * rate + 1e-9)))), noise_(noise)
{
}

int32_t FirstMotion::operator()(const double *x, int64_t from, int64_t to, int64_t pick, int64_t half_width) const
{
    if (half_width > sharp_) return 0;
    const int64_t noise_end = pick - half_width;
    const int64_t noise_begin = std::max(from, noise_end - noise_);
    if (noise_end - noise_begin < least_noise_samples) return 0;
    const auto at = [&](int64_t i) { return x[i - from]; };

    // Least squares line about the window's centre, where its slope and
    // mean are independent.
    const double count = static_cast<double>(noise_end - noise_begin);
    const double centre = 0.5 * static_cast<double>(noise_begin + noise_end - 1);
    double sum = 0.0;
    for (int64_t i = noise_begin; i < noise_end; ++i) sum += at(i);
    const double mean = sum / count;
    double moment = 0.0, spread = 0.0;
    for (int64_t i = noise_begin; i < noise_end; ++i) {
        const double t = static_cast<double>(i) - centre;
        moment += t * (at(i) - mean);
        spread += t * t;
    }
    const double slope = moment / spread;
    const auto deviation = [&](int64_t i) { return at(i) - (mean + slope * (static_cast<double>(i) - centre)); };
    double noise_peak = 0.0;
    for (int64_t i = noise_begin; i < noise_end; ++i) noise_peak = std::max(noise_peak, std::fabs(deviation(i)));

    const int64_t end = std::min(to, pick + half_width + sharp_ + 1);
    bool strayed_up = false, strayed_down = false;
    for (int64_t i = noise_end; i < end; ++i) {
        const double d = deviation(i);
        if (std::fabs(d) > swing_peaks * noise_peak) {
            if (d > 0.0) return strayed_down ? 0 : 'U';
            return strayed_up ? 0 : 'D';
        }
        strayed_up = strayed_up || d > noise_peak;
        strayed_down = strayed_down || d < -noise_peak;
    }
    return 0;
}

}  // namespace detect
