// The recomputations of consecutive windows in vector lanes, one window per
// lane. Private to kurtosis/.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace onset::kurtosis {
namespace {

// Lane l of group g takes the window starting at first + g * width + l about
// means[g * width + l], summing as central_sums_about does: one sample at a
// time, in ascending order. The groups are independent sums in flight.
template <class L, std::size_t Groups>
inline void central_sums_in_lanes(const double *first, std::uint32_t window, const double *means,
                                  double *s2, double *s3, double *s4)
{
    using V = typename L::Value;
    constexpr std::size_t w = L::width;
    V mean[Groups], sum2[Groups], sum3[Groups], sum4[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        mean[g] = L::load(means + g * w);
        sum2[g] = sum3[g] = sum4[g] = L::broadcast(0.0);
    }
    for (std::uint32_t k = 0; k < window; ++k) {
        for (std::size_t g = 0; g < Groups; ++g) {
            const V d = L::load(first + g * w + k) - mean[g];
            const V q = d * d;
            sum2[g] = sum2[g] + q;
            sum3[g] = sum3[g] + d * q;
            sum4[g] = sum4[g] + q * q;
        }
    }
    for (std::size_t g = 0; g < Groups; ++g) {
        L::store(s2 + g * w, sum2[g]);
        L::store(s3 + g * w, sum3[g]);
        L::store(s4 + g * w, sum4[g]);
    }
}

template <class L>
void central_sums_ahead(const double *first, std::uint32_t window, std::uint32_t groups,
                        const double *means, double *s2, double *s3, double *s4)
{
    if (groups == 1)
        central_sums_in_lanes<L, 1>(first, window, means, s2, s3, s4);
    else
        central_sums_in_lanes<L, 2>(first, window, means, s2, s3, s4);
}

} // namespace
} // namespace onset::kurtosis
