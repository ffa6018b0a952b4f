// The moving kurtosis of one trace, phase by phase. Private to kurtosis/.
//
// Output i covers in[lo .. hi], lo = max(0, i + h - w + 1), hi = min(n - 1,
// i + h), h = w / 2. One pass over the trace keeps the window's sum and
// central-moment sums up to date as samples enter and leave; the phases run
// in the order declared below, each writing a contiguous run of outputs.
#pragma once

#include "kurtosis/central_sums.h"
#include "kurtosis/nonfinite_samples.h"
#include "kurtosis/recomputed_ahead.h"

#include <cstdint>

namespace onset::kurtosis {

class MovingKurtosis {
public:
    // Expects 1 <= window; length may be below window (windows are then
    // clipped to the trace). The sliding phase runs its blocks (see
    // sliding_blocks.h) and recomputes the windows that fail the plausibility
    // test (see recomputed_ahead.h) on the given path.
    MovingKurtosis(double *output, const double *input, std::uint32_t length, std::uint32_t window,
                   simd::Isa path);

    // out[0], window in[0 .. last].
    void first_output(std::uint32_t last);
    // Samples in[first .. end - 1] enter one per output, none leave.
    void grow(std::uint32_t first, std::uint32_t end);
    // n > w: in[j + w] enters and in[j] leaves, for j = first_step .. n - w -
    // 1, from the sums of the window starting at first_step.
    void slide(std::uint32_t first_step);
    // n < w: outputs first .. end - 1 all cover the whole trace.
    void hold(std::uint32_t first, std::uint32_t end);
    // Outputs first .. n - 1: one sample leaves per output, none enter.
    void shrink(std::uint32_t first);

    // The sums of the current window; the vector lanes carry a trace's
    // sliding phase and hand its sums back before the shrinking phase.
    const RunningSums &sums() const { return sums_; }
    void set_sums(const RunningSums &sums) { sums_ = sums; }

    double *output() const { return output_; }
    const double *input() const { return input_; }
    std::uint32_t length() const { return length_; }
    std::uint32_t window() const { return window_; }

    // A sliding value off the band for the window starting at lo: rebuilds
    // the sums (and the carried mean when they were not finite) and returns
    // the window's kurtosis as stored.
    double off_band(std::uint32_t lo, double k, RunningSums &sums, double &mean);

private:
    // Sums not finite (a NaN or infinity has passed through, or a huge
    // sample's powers overflowed) over a window without non-finite samples:
    // rebuild them over in[lo .. lo + count - 1] with the mean S1 / count,
    // and return the window's kurtosis.
    double rebuild_dividing(std::uint32_t lo, std::uint32_t count);

    double *output_;
    const double *input_;
    std::uint32_t length_;
    std::uint32_t window_;
    std::uint32_t half_;
    simd::Isa path_;
    RunningSums sums_{};
    NonFiniteSamples nonfinite_;
    RecomputedAhead ahead_;
};

// trace_movkurtosis with its sliding phase on the given path; every path
// gives the same bits.
void moving_kurtosis(double *output, const double *input, std::uint32_t length,
                     std::uint32_t window, simd::Isa path);

} // namespace onset::kurtosis
