// The moving kurtosis in four AVX2 lanes, chosen at run time.
//
// Every header the kernels use comes before the target region; only the
// kernel headers, templates in an unnamed namespace, are compiled inside it.
#include "kurtosis/lane_paths.h"
#include "kurtosis/moving_kurtosis.h"
#include "kurtosis/sliding_state.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)

ONSET_BEGIN_TARGET(ONSET_AVX2_TARGET)
#include "kurtosis/central_sums_lanes.h"
#include "kurtosis/sliding_blocks.h"
#include "kurtosis/traces_in_lanes.h"

namespace onset::kurtosis {

void traces_in_lanes_avx2(const TraceBatch &batch, std::uint32_t first, std::uint32_t end)
{
    TracesInLanes<simd::Avx2Lanes>(batch, first, end).run();
}

void slide_in_blocks_avx2(MovingKurtosis &trace, std::uint32_t first_step)
{
    SlidingBlocks<simd::Avx2Lanes>(trace).run(first_step);
}

void central_sums_ahead_avx2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4)
{
    central_sums_ahead<simd::Avx2Lanes>(first, window, groups, means, s2, s3, s4);
}

} // namespace onset::kurtosis
ONSET_END_TARGET

#endif
