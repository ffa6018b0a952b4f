// The filter bank's per-scale set-up (scale ladder, wavelet lengths, output
// steps) and the three exported entries over it.
#include "filter/scale_setup.h"

#include <cmath>

#include "filter/truncation.h"
#include "onset.h"

namespace onset::filter {

void build_scale_ladder(double *scales, std::uint32_t count, std::uint32_t voices,
                        double first_scale, double base)
{
    // Repeated products, not pow(ratio, i): the ladder's last bits depend on it.
    const double ratio = std::pow(base, 1.0 / static_cast<double>(voices));
    double scale = first_scale;
    for (std::uint32_t i = 0; i < count; ++i) {
        scales[i] = scale;
        scale = scale * ratio;
    }
}

std::uint32_t size_wavelets(std::uint32_t *lengths, const double *scales,
                            std::uint32_t count, std::uint32_t max_length)
{
    std::uint32_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        // ceil leaves NaN, infinities and integral magnitudes (all of 2^52
        // and above) as they are and keeps the sign of -0.5 -> -0.
        const double half_span = std::ceil(scales[i] * 8.0);
        // Unsigned arithmetic: 2 * (-2^63) and friends wrap instead of
        // overflowing; only the low 32 bits are kept.
        const auto whole = static_cast<std::uint64_t>(truncate_to_int64(half_span));
        const auto length = static_cast<std::uint32_t>(2u * whole + 1u);
        lengths[i] = length < max_length ? length : max_length;
        total += length; // the uncapped length: an upper bound of the buffer
    }
    return total;
}

void choose_steps(std::uint32_t *steps, std::uint32_t count, bool full_rate,
                  std::uint32_t voices, std::uint32_t groups, double first_scale,
                  double base, double fraction)
{
    if (full_rate) {
        for (std::uint32_t i = 0; i < count; ++i)
            steps[i] = 1;
        return;
    }
    double step = fraction * first_scale;
    std::uint32_t *group_steps = steps;
    for (std::uint32_t g = 0; g < groups; ++g) {
        const std::uint32_t value =
            step < 1.0 ? 1u : static_cast<std::uint32_t>(truncate_to_int64(step));
        for (std::uint32_t v = 0; v < voices; ++v)
            group_steps[v] = value;
        group_steps += voices;
        step = step * base;
    }
}

} // namespace onset::filter

extern "C" {

ONSET_API void setscales0(double *scales, uint32_t count, uint32_t voices,
                          double first_scale, double base)
{
    onset::filter::build_scale_ladder(scales, count, voices, first_scale, base);
}

ONSET_API uint32_t setwaveletlength0(uint32_t *lengths, const double *scales,
                                     uint32_t count, uint32_t max_length)
{
    return onset::filter::size_wavelets(lengths, scales, count, max_length);
}

ONSET_API void setsampling0(uint32_t *steps, uint32_t count, int32_t full_rate,
                            uint32_t voices, uint32_t groups, double first_scale,
                            double base, double fraction)
{
    onset::filter::choose_steps(steps, count, full_rate != 0, voices, groups,
                                first_scale, base, fraction);
}

} // extern "C"
