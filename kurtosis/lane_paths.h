// The paths of the moving kurtosis through vector lanes, one per instruction
// set. Private to kurtosis/.
#pragma once

#include "simd/lanes.h"

#include <cstdint>

namespace onset::kurtosis {

#if defined(__x86_64__)
// One file per instruction set; see central_sums_lanes.h.
void central_sums_ahead_sse2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4);
void central_sums_ahead_avx2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4);
void central_sums_ahead_avx512(const double *first, std::uint32_t window, std::uint32_t groups,
                               const double *means, double *s2, double *s3, double *s4);
#endif

} // namespace onset::kurtosis
