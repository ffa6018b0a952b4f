// Sampling of one Mexican-hat wavelet, and its exported entry.
#include <cmath>

#include "filter/wavelets.h"

namespace onset::filter {

std::int32_t sample_mexican_hat(double *wavelet, std::uint32_t length, double scale)
{
    const double amplitude = 2.0 / std::sqrt(three_sqrt_pi * scale);
    const std::uint32_t half = length >> 1;
    // The reciprocal, then products: dividing by the scale for every sample
    // would change the last bits.
    const double inverse_scale = 1.0 / scale;
    for (std::uint32_t k = 0; k < length; ++k) {
        const auto offset = static_cast<std::int64_t>(k) - half;
        const double x = static_cast<double>(offset) * inverse_scale;
        const double u = x * x;
        const double gaussian = std::exp((-u) * 0.5);
        wavelet[k] = ((u - 1.0) * amplitude) * gaussian;
    }
    return static_cast<std::int32_t>(half);
}

} // namespace onset::filter

extern "C" ONSET_API void MexicanHatFun_real(double *wavelet, int32_t *center,
                                             uint32_t length, double /*parameter*/,
                                             double scale)
{
    *center = onset::filter::sample_mexican_hat(wavelet, length, scale);
}
