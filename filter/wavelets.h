// Sampling of the Mexican-hat wavelets.
#pragma once

#include <cstdint>

#include "onset.h"

namespace onset::filter {

// 3 * sqrt(pi), in the amplitude 2 / sqrt(3 * sqrt(pi) * scale).
inline constexpr double three_sqrt_pi = 5.317361552716548;
// 4 * sqrt(pi) / 3, stored in the family for the host.
inline constexpr double mexican_hat_constant = 2.3632718012073544;

// Writes `length` samples, sample k at offset k - length / 2 from the
// centre, and returns that centre index.
std::int32_t sample_mexican_hat(double *wavelet, std::uint32_t length, double scale);

void fill_family(WaveletFamily &family);

} // namespace onset::filter
