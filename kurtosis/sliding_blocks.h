// The sliding phase of one trace in blocks of steps. Private to kurtosis/.
//
// A step's sums depend on the step before through S2, S3 and S4, so the
// steps run one after another; but most of a step's work, its terms, follows
// from S1 and its two samples alone. A block therefore first runs the S1
// chain, then forms the terms of all its steps side by side, one step per
// vector lane, and last runs the sums step by step over the stored terms.
// The sums' chain is then all the loop holds in flight, about twice as fast
// as whole steps in order. Each value is the same operation on the same
// operands as in one step after another, so the bits are the same.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "kurtosis/moving_kurtosis.h"
#include "kurtosis/sliding_state.h"
#include "kurtosis/sliding_step.h"

#include <cstdint>
#include <cstring>

namespace onset::kurtosis {
namespace {

template <class L>
class SlidingBlocks {
public:
    explicit SlidingBlocks(MovingKurtosis &trace)
        : trace_(trace), in_(trace.input()), entering_(trace.input() + trace.window()),
          out_(trace.output() + (trace.window() - (trace.window() >> 1))),
          steps_(trace.length() - trace.window()), c_(sliding_width(trace.window()))
    {
    }

    void run(std::uint32_t first_step)
    {
        const RunningSums &start = trace_.sums();
        SlidingSums<double> s = sliding_sums(start, c_.rw * start.s1);
        for (std::uint32_t j = first_step; j < steps_;) {
            const std::uint32_t count = steps_ - j < block ? steps_ - j : block;
            carry_s1(j, count, s);
            form_terms(j, count);
            j += update_sums_in_order(j, count, s);
        }
        trace_.set_sums(RunningSums{s.s1, s.s2, s.s3, s.s4});
    }

private:
    using V = typename L::Value;
    static constexpr std::uint32_t block = 128;

    // S1 and the mean after each step of the block, [0] before its first.
    void carry_s1(std::uint32_t first, std::uint32_t count, const SlidingSums<double> &s)
    {
        s1_[0] = s.s1;
        mean_[0] = s.mean;
        for (std::uint32_t j = 0; j < count; ++j) {
            s1_[j + 1] = s1_[j] + (entering_[first + j] - in_[first + j]);
            mean_[j + 1] = c_.rw * s1_[j + 1];
        }
    }

    void form_terms(std::uint32_t first, std::uint32_t count)
    {
        const SlidingWidth<V> c{L::broadcast(c_.width), L::broadcast(c_.rw), L::broadcast(c_.rw1),
                                L::broadcast(c_.p), L::broadcast(c_.q)};
        std::uint32_t j = 0;
        for (; j + L::width <= count; j += L::width)
            store_terms<L>(j, step_terms(c, L::load(s1_ + j), L::load(mean_ + j),
                                         L::load(s1_ + j + 1), L::load(mean_ + j + 1),
                                         L::load(entering_ + first + j), L::load(in_ + first + j)));
        for (; j < count; ++j)
            store_terms<simd::PlainLanes>(j,
                                          step_terms(c_, s1_[j], mean_[j], s1_[j + 1], mean_[j + 1],
                                                     entering_[first + j], in_[first + j]));
    }

    // M: the lanes of the block's whole groups, or one lane for the rest.
    template <class M>
    void store_terms(std::uint32_t j, const StepTerms<typename M::Value> &t)
    {
        M::store(a_plus_ + j, t.a_plus);
        M::store(a_minus_ + j, t.a_minus);
        M::store(t_change_ + j, t.t_change);
        M::store(q_t_plus_ + j, t.q_t_plus);
        M::store(q_t_minus_ + j, t.q_t_minus);
        M::store(p_a_t_plus_ + j, t.p_a_t_plus);
        M::store(p_t_a_minus_ + j, t.p_t_a_minus);
    }

    // The sums through the block's steps, in order; returns the number of
    // steps taken. A recovery from non-finite sums rebuilds S1, and with it
    // the terms of the steps after it: the block ends there.
    std::uint32_t update_sums_in_order(std::uint32_t first, std::uint32_t count,
                                       SlidingSums<double> &s)
    {
        double *out = out_ + first;
        for (std::uint32_t j = 0; j < count; ++j) {
            const StepTerms<double> t{a_plus_[j],    a_minus_[j],    t_change_[j],   q_t_plus_[j],
                                      q_t_minus_[j], p_a_t_plus_[j], p_t_a_minus_[j]};
            double k = update_sums(s, t, c_);
            if (__builtin_expect(!in_band(k), 0)) {
                // Copies, so that the loop's own variables never have their
                // address taken and stay in registers.
                RunningSums sums{s1_[j + 1], s.s2, s.s3, s.s4};
                double mean = mean_[j + 1];
                out[j] = trace_.off_band(first + j + 1, k, sums, mean);
                s = sliding_sums(sums, mean);
                if (!same_bits(sums.s1, s1_[j + 1]) || !same_bits(mean, mean_[j + 1]))
                    return j + 1;
                continue;
            }
            out[j] = k;
        }
        s.s1 = s1_[count];
        s.mean = mean_[count];
        return count;
    }

    static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

    MovingKurtosis &trace_;
    const double *in_;       // in[j] leaves at step j
    const double *entering_; // in[j + w] enters
    double *out_;            // out[j + w - h] is written
    const std::uint32_t steps_;
    const SlidingWidth<double> c_;
    double s1_[block + 1];
    double mean_[block + 1];
    double a_plus_[block];
    double a_minus_[block];
    double t_change_[block];
    double q_t_plus_[block];
    double q_t_minus_[block];
    double p_a_t_plus_[block];
    double p_t_a_minus_[block];
};

} // namespace
} // namespace onset::kurtosis
