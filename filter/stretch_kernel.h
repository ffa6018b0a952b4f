// Runs of correlation outputs whose stretches do not wrap, one output per
// vector lane: written once, instantiated per instruction set. Each lane
// forms its pair sums and its running sum in the plain path's order
// (add_paired_products), so the bits match it; products and sums are rounded
// separately, as everywhere in the library. Private to filter/.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "filter/correlation.h"

#include <cstdint>

namespace onset::filter {
namespace {

// Step 1: lane l of group g starts at a + g * width + l, so one unaligned
// load gives a group's samples for a tap, times the tap broadcast.
template <class L, std::uint64_t Groups>
inline void contiguous_block(double *output, const double *a, const double *b, std::uint64_t m)
{
    using V = typename L::Value;
    constexpr std::uint64_t w = L::width;
    V sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = L::broadcast(0.0);
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const V even_tap = L::broadcast(b[i]);
        const V odd_tap = L::broadcast(b[i + 1]);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row = a + g * w + i;
            sum[g] = sum[g] + (L::load(row) * even_tap + L::load(row + 1) * odd_tap);
        }
    }
    if (i < m) {
        const V last_tap = L::broadcast(b[i]);
        for (std::uint64_t g = 0; g < Groups; ++g)
            sum[g] = sum[g] + L::load(a + g * w + i) * last_tap;
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        L::store(output + g * w, sum[g]);
}

// Any step: lane l of group g starts at a + (g * width + l) * step and loads
// its own pair of samples; the lane type gathers them into an even-tap and an
// odd-tap vector.
template <class L, std::uint64_t Groups>
inline void strided_block(double *output, const double *a, const double *b, std::uint64_t m,
                          std::uint64_t step)
{
    using V = typename L::Value;
    constexpr std::uint64_t w = L::width;
    V sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = L::broadcast(0.0);
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const V even_tap = L::broadcast(b[i]);
        const V odd_tap = L::broadcast(b[i + 1]);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            V even, odd;
            L::pairs(a + g * w * step + i, step, even, odd);
            sum[g] = sum[g] + (even * even_tap + odd * odd_tap);
        }
    }
    if (i < m) {
        const V last_tap = L::broadcast(b[i]);
        for (std::uint64_t g = 0; g < Groups; ++g)
            sum[g] = sum[g] + L::strided(a + g * w * step + i, step) * last_tap;
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        L::store(output + g * w, sum[g]);
}

// `count` outputs: output j is the paired sum of a[j * step + i] * b[i] over
// i < m. Whole blocks go through the lanes, `Groups` independent running sums
// in flight, the rest through the plain path.
template <class L, std::uint64_t Groups>
inline void stretches_in_lanes(double *output, const double *a, const double *b,
                               std::uint64_t m, std::uint64_t step, std::uint64_t count)
{
    constexpr std::uint64_t w = L::width;
    std::uint64_t j = 0;
    if (step == 1) {
        for (; j + Groups * w <= count; j += Groups * w)
            contiguous_block<L, Groups>(output + j, a + j, b, m);
        for (; j + w <= count; j += w)
            contiguous_block<L, 1>(output + j, a + j, b, m);
    } else {
        for (; j + Groups * w <= count; j += Groups * w)
            strided_block<L, Groups>(output + j, a + j * step, b, m, step);
        for (; j + w <= count; j += w)
            strided_block<L, 1>(output + j, a + j * step, b, m, step);
    }
    stretches_plain(output + j, a + j * step, b, m, step, count - j);
}

} // namespace
} // namespace onset::filter
