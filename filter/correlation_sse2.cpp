// Two outputs per 128-bit vector, one per lane, four running sums in flight,
// in SSE2: part of every x86-64 CPU, so compiled without a target region.
#include "filter/correlation.h"

#if defined(__x86_64__)

#include "filter/stretch_kernel.h"
#include "simd/lanes.h"

namespace onset::filter {

void stretches_sse2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_in_lanes<simd::Sse2Lanes, 4>(output, a, b, m, step, count);
}

} // namespace onset::filter

#else

namespace onset::filter {

// Never selected off x86-64 (path_available says no); kept for the linker.
void stretches_sse2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_plain(output, a, b, m, step, count);
}

} // namespace onset::filter

#endif
