// Four outputs per 256-bit vector, one per lane, chosen at run time. Three
// running sums in flight: with four, the unrolled loop no longer keeps its
// taps in the sixteen registers (full-rate bank of bench_filter: 72 ms
// instead of 56 to 62). The kernel header alone is compiled inside the target
// region (see simd/lanes.h).
#include "filter/correlation.h"
#include "simd/lanes.h"

#include <cstdint>

#if defined(__x86_64__)

ONSET_BEGIN_TARGET(ONSET_AVX2_TARGET)
#include "filter/stretch_kernel.h"

namespace onset::filter {

void stretches_avx2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_in_lanes<simd::Avx2Lanes, 3>(output, a, b, m, step, count);
}

} // namespace onset::filter
ONSET_END_TARGET

#else

namespace onset::filter {

// Never selected off x86-64 (path_available says no); kept for the linker.
void stretches_avx2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_plain(output, a, b, m, step, count);
}

} // namespace onset::filter

#endif
