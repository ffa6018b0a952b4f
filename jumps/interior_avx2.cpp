// The interior passes on four stretches at once in AVX2 lanes, chosen at run time.
// The kernel header alone is compiled inside the target region (see
// simd/lanes.h).
#include "jumps/lanes.h"
#include "simd/lanes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__x86_64__)

ONSET_BEGIN_TARGET(ONSET_AVX2_TARGET)
#include "jumps/interior_kernel.h"

namespace onset::jumps {

double write_lanes_avx2(double *slots, const double *input, std::size_t window,
                        std::size_t first, std::size_t span, std::size_t count)
{
    using L = simd::Avx2Lanes;
    Side<L> last;
    const L::Value probe = write_segments<L>(slots, input, window, first, span, count, last);
    double sum = 0;
    for (std::size_t l = 0; l < L::width; ++l)
        sum += L::lane(probe, l);
    return sum;
}

} // namespace onset::jumps
ONSET_END_TARGET

#else

namespace onset::jumps {

// Never selected off x86-64 (path_available says no); kept for the linker.
double write_lanes_avx2(double *, const double *, std::size_t, std::size_t, std::size_t,
                        std::size_t)
{
    return 0;
}

} // namespace onset::jumps

#endif
