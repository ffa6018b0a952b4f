// A block of traces on the path this CPU runs fastest.
#include "kurtosis/lane_paths.h"
#include "kurtosis/moving_kurtosis.h"

namespace onset::kurtosis {

// Every width pays (bench_kurtosis_lanes: 16 traces of noise, w = 128, one
// thread): two SSE2 lanes take 0.57 of the time of one call per trace, four
// AVX2 lanes 0.32 and eight AVX-512 lanes 0.28.
simd::Isa fastest_block_isa()
{
    return simd::widest_isa();
}

void movkurtosis_block(const TraceBatch &batch, std::uint32_t first, std::uint32_t end,
                       simd::Isa path)
{
    switch (path) {
#if defined(__x86_64__)
    case simd::Isa::avx512:
        traces_in_lanes_avx512(batch, first, end);
        return;
    case simd::Isa::avx2:
        traces_in_lanes_avx2(batch, first, end);
        return;
    case simd::Isa::sse2:
        traces_in_lanes_sse2(batch, first, end);
        return;
#endif
    default:
        for (std::uint32_t i = first; i < end; ++i)
            moving_kurtosis(batch.outputs[i], batch.inputs[i], batch.lengths[i],
                            batch.windows[i], fastest_ahead_isa());
    }
}

} // namespace onset::kurtosis
