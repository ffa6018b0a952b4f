// The moving kurtosis in two SSE2 lanes, part of every x86-64 CPU.
#include "kurtosis/lane_paths.h"

#if defined(__x86_64__)

#include "kurtosis/central_sums_lanes.h"
#include "kurtosis/sliding_blocks.h"
#include "kurtosis/traces_in_lanes.h"

namespace onset::kurtosis {

void traces_in_lanes_sse2(const TraceBatch &batch, std::uint32_t first, std::uint32_t end)
{
    TracesInLanes<simd::Sse2Lanes>(batch, first, end).run();
}

void slide_in_blocks_sse2(MovingKurtosis &trace, std::uint32_t first_step)
{
    SlidingBlocks<simd::Sse2Lanes>(trace).run(first_step);
}

void central_sums_ahead_sse2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4)
{
    central_sums_ahead<simd::Sse2Lanes>(first, window, groups, means, s2, s3, s4);
}

} // namespace onset::kurtosis

#endif
