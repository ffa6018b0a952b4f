// One step of the sliding phase, written once for a single trace (V =
// double) and for several traces in vector lanes, one trace per lane: the
// same operations in the same order, so every lane gives the bits of the
// single-trace loop. Private to kurtosis/.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "kurtosis/sliding_state.h"

namespace onset::kurtosis {
namespace {

// Adds x to the w-sample window (giving w + 1 samples about mean_plus), then
// removes y from that; returns the kurtosis of the new window.
template <class V>
inline __attribute__((always_inline)) V slide_once(SlidingSums<V> &s, const SlidingWidth<V> &c,
                                                   V x, V y)
{
    const V mean_plus = (x + s.s1) * c.rw1;
    const V a_plus = ((c.width * x - s.s1) * c.rw1) * c.rw;
    const V s1_new = s.s1 + (x - y);
    const V mean_new = c.rw * s1_new;
    const V t_plus = (x - s.mean) * (x - mean_plus);
    const V t_minus = (y - mean_plus) * (y - mean_new);
    const V a_minus = ((y * c.width - s1_new) * c.rw1) * c.rw;
    const V s4_plus =
        s.s4 + ((s.six_s2 * a_plus + s.minus4_s3) + (a_plus * t_plus) * c.p) * a_plus;
    const V s2_new = s.s2 + (t_plus - t_minus);
    const V s3_plus = s.s3 + (s.minus3_s2 + c.q * t_plus) * a_plus;
    s.minus3_s2 = s2_new * -3.0;
    const V s3_new = s3_plus - (s.minus3_s2 + c.q * t_minus) * a_minus;
    s.minus4_s3 = s3_new * -4.0;
    s.six_s2 = 6.0 * s2_new;
    const V s4_new =
        s4_plus - ((s.minus4_s3 + s.six_s2 * a_minus) + (t_minus * a_minus) * c.p) * a_minus;
    s.s1 = s1_new;
    s.s2 = s2_new;
    s.s3 = s3_new;
    s.s4 = s4_new;
    s.mean = mean_new;
    return (c.width * s4_new) / (s2_new * s2_new);
}

} // namespace
} // namespace onset::kurtosis
