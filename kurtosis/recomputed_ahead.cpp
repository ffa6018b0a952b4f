#include "kurtosis/recomputed_ahead.h"

#include "kurtosis/lane_paths.h"

#include <cstring>

namespace onset::kurtosis {

// AVX-512 lanes are no faster than AVX2 ones here, neither for the
// recomputations (the additions, one sample of a window each, keep the
// adders busy either way) nor for the terms of the sliding blocks
// (bench_kurtosis_lanes: 5.0 ms on noise either way). A trace takes this
// path for both.
simd::Isa fastest_ahead_isa()
{
    return simd::widest_isa() == simd::Isa::avx512 ? simd::Isa::avx2 : simd::widest_isa();
}

RecomputedAhead::RecomputedAhead(simd::Isa path) : kernel_(nullptr), lanes_(1)
{
    switch (path) {
#if defined(__x86_64__)
    case simd::Isa::avx512:
        kernel_ = central_sums_ahead_avx512;
        lanes_ = 8;
        break;
    case simd::Isa::avx2:
        kernel_ = central_sums_ahead_avx2;
        lanes_ = 4;
        break;
    case simd::Isa::sse2:
        kernel_ = central_sums_ahead_sse2;
        lanes_ = 2;
        break;
#endif
    default:
        break;
    }
}

namespace {

bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

void RecomputedAhead::central_sums(const double *input, std::uint32_t window, std::uint32_t lo,
                                   std::uint32_t last_start, double s1, double mean,
                                   RunningSums &sums)
{
    const std::uint32_t i = lo - first_;
    if (lo >= first_ && i < count_ && same_bits(mean_[i], mean)) {
        sums.s2 = s2_[i];
        sums.s3 = s3_[i];
        sums.s4 = s4_[i];
        return;
    }
    // A run that has outlasted the windows computed ahead is likely a long
    // one: twice as many windows, which the lanes sum at their full rate.
    std::uint32_t groups = count_ > 0 && lo == first_ + count_ ? 2 : 1;
    const std::uint32_t windows_left = last_start - lo + 1;
    while (groups > 0 && groups * lanes_ > windows_left)
        --groups;
    if (lanes_ == 1 || groups == 0) {
        count_ = 0;
        central_sums_about(input + lo, input + lo + window, mean, sums);
        return;
    }
    // The means of the following windows, formed as the sliding steps form
    // them: S1 plus the entering minus the leaving sample, times 1 / w.
    const std::uint32_t count = groups * lanes_;
    const double rw = 1.0 / static_cast<double>(window);
    double s = s1;
    mean_[0] = mean;
    for (std::uint32_t k = 1; k < count; ++k) {
        s = s + (input[lo + k - 1 + window] - input[lo + k - 1]);
        mean_[k] = rw * s;
    }
    kernel_(input + lo, window, groups, mean_, s2_, s3_, s4_);
    first_ = lo;
    count_ = count;
    sums.s2 = s2_[0];
    sums.s3 = s3_[0];
    sums.s4 = s4_[0];
}

} // namespace onset::kurtosis
