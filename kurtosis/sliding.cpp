// The sliding phase: the window keeps w samples, one entering and one leaving
// per output. This is the hot loop of a long trace; it runs in blocks of
// steps (sliding_blocks.h) on the path the trace was given.
//
// The rare off-band work lives in its own function, kept out of line: inlined,
// its loops and state crowd the registers of the loop (about 9 % slower).
#include "kurtosis/lane_paths.h"
#include "kurtosis/moving_kurtosis.h"
#include "kurtosis/sliding_blocks.h"

namespace onset::kurtosis {

void MovingKurtosis::slide(std::uint32_t first_step)
{
    switch (path_) {
#if defined(__x86_64__)
    case simd::Isa::avx512:
        slide_in_blocks_avx512(*this, first_step);
        return;
    case simd::Isa::avx2:
        slide_in_blocks_avx2(*this, first_step);
        return;
    case simd::Isa::sse2:
        slide_in_blocks_sse2(*this, first_step);
        return;
#endif
    default:
        SlidingBlocks<simd::PlainLanes>(*this).run(first_step);
    }
}

// Off the band: rebuild S2, S3, S4 about the carried mean. NaN passes (a
// window without spread) and keeps the updated sums.
__attribute__((noinline)) double MovingKurtosis::off_band(std::uint32_t lo, double k,
                                                          RunningSums &sums, double &mean)
{
    const double width = window_;
    const double *window = input_ + lo;
    if (!std::isnan(k)) {
        ahead_.central_sums(input_, window_, lo, length_ - window_, sums.s1, mean, sums);
        k = kurtosis_of(width, sums.s2, sums.s4);
    }
    // Only values off the band need the finiteness test: a non-finite S2'
    // or S4' gives 0, infinity or NaN, and a non-finite S1' or S3' reaches
    // S4' through Am and -4 S3'.
    if (!all_finite(sums) && !nonfinite_.any_in(lo, lo + window_ - 1)) {
        sums.s1 = window_sum(window, window + window_);
        mean = (1.0 / width) * sums.s1;
        central_sums_about(window, window + window_, mean, sums);
        k = kurtosis_of(width, sums.s2, sums.s4);
    }
    return stored(k);
}

} // namespace onset::kurtosis
