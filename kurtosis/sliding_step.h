// One step of the sliding phase, written once for a single trace (V =
// double) and for several traces or steps in vector lanes, one per lane: the
// same operations in the same order, so every lane gives the bits of the
// single-trace loop. Private to kurtosis/.
//
// A step falls in two parts. Its terms follow from S1, the mean and the two
// samples alone; only the update of S2, S3, S4 carries from step to step
// through the running sums. So a stretch of steps can form its terms side by
// side, ahead of the sums (see sliding_blocks.h).
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "kurtosis/sliding_state.h"

namespace onset::kurtosis {
namespace {

// The terms of a step that adds x to the w-sample window (giving w + 1
// samples about mean_plus) and then removes y from that.
template <class V>
struct StepTerms {
    V a_plus;
    V a_minus;
    V t_change;    // Tp - Tm
    V q_t_plus;    // Q Tp
    V q_t_minus;   // Q Tm
    V p_a_t_plus;  // (Ap Tp) P
    V p_t_a_minus; // (Tm Am) P
};

// s1, mean: the window's before the step; s1_new, mean_new: after it.
template <class V>
inline __attribute__((always_inline)) StepTerms<V>
step_terms(const SlidingWidth<V> &c, V s1, V mean, V s1_new, V mean_new, V x, V y)
{
    const V mean_plus = (x + s1) * c.rw1;
    const V a_plus = ((c.width * x - s1) * c.rw1) * c.rw;
    const V t_plus = (x - mean) * (x - mean_plus);
    const V t_minus = (y - mean_plus) * (y - mean_new);
    const V a_minus = ((y * c.width - s1_new) * c.rw1) * c.rw;
    return {a_plus,
            a_minus,
            t_plus - t_minus,
            c.q * t_plus,
            c.q * t_minus,
            (a_plus * t_plus) * c.p,
            (t_minus * a_minus) * c.p};
}

// S2, S3, S4 through the step; returns the kurtosis of the new window. s1
// and mean are left to the caller.
template <class V>
inline __attribute__((always_inline)) V update_sums(SlidingSums<V> &s, const StepTerms<V> &t,
                                                    const SlidingWidth<V> &c)
{
    const V s4_plus = s.s4 + ((s.six_s2 * t.a_plus + s.minus4_s3) + t.p_a_t_plus) * t.a_plus;
    const V s2_new = s.s2 + t.t_change;
    const V s3_plus = s.s3 + (s.minus3_s2 + t.q_t_plus) * t.a_plus;
    s.minus3_s2 = s2_new * -3.0;
    const V s3_new = s3_plus - (s.minus3_s2 + t.q_t_minus) * t.a_minus;
    s.minus4_s3 = s3_new * -4.0;
    s.six_s2 = 6.0 * s2_new;
    const V s4_new = s4_plus - ((s.minus4_s3 + s.six_s2 * t.a_minus) + t.p_t_a_minus) * t.a_minus;
    s.s2 = s2_new;
    s.s3 = s3_new;
    s.s4 = s4_new;
    return (c.width * s4_new) / (s2_new * s2_new);
}

// The whole step: x enters, y leaves.
template <class V>
inline __attribute__((always_inline)) V slide_once(SlidingSums<V> &s, const SlidingWidth<V> &c, V x,
                                                   V y)
{
    const V s1_new = s.s1 + (x - y);
    const V mean_new = c.rw * s1_new;
    const StepTerms<V> t = step_terms(c, s.s1, s.mean, s1_new, mean_new, x, y);
    s.s1 = s1_new;
    s.mean = mean_new;
    return update_sums(s, t, c);
}

} // namespace
} // namespace onset::kurtosis
