// Set-up of the filter bank's per-scale arrays: scale ladder, wavelet
// lengths, output steps.
#pragma once

#include <cstdint>

namespace onset::filter {

void build_scale_ladder(double *scales, std::uint32_t count, std::uint32_t voices,
                        double first_scale, double base);

std::uint32_t size_wavelets(std::uint32_t *lengths, const double *scales,
                            std::uint32_t count, std::uint32_t max_length);

void choose_steps(std::uint32_t *steps, std::uint32_t count, bool full_rate,
                  std::uint32_t voices, std::uint32_t groups, double first_scale,
                  double base, double fraction);

} // namespace onset::filter
