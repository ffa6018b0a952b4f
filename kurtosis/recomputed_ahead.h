// Recomputations of consecutive sliding windows, computed ahead in vector
// lanes. Private to kurtosis/.
//
// Where the kurtosis itself lies outside the band (a strong sinusoid, windows
// of two values), every sliding step fails the plausibility test and
// recomputes its window: such failures come in runs. Each recomputation is
// an independent sum over its own window about its own mean, and the means of
// the following windows follow from S1 and the samples alone, exactly as the
// sliding steps will form them. So when a step fails, the next windows are
// recomputed with it, one per lane, each lane summing in ascending order as
// the plain recomputation does. A result is taken only by the window it was
// computed for and only about the very same mean, so the bits are those of a
// recomputation on the spot.
#pragma once

#include "kurtosis/central_sums.h"
#include "simd/lanes.h"

#include <cstdint>

namespace onset::kurtosis {

// S2, S3, S4 of the groups * lanes windows starting at first, first + 1, ...,
// each `window` samples long, window i about means[i].
using AheadKernel = void (*)(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4);

// The path that runs a trace's sliding phase fastest on this CPU.
simd::Isa fastest_ahead_isa();

class RecomputedAhead {
public:
    explicit RecomputedAhead(simd::Isa path);

    // S2, S3, S4 of in[lo .. lo + w - 1] about `mean`. s1 is S1 of that
    // window as the sliding steps formed it, and last_start the start of the
    // trace's last window.
    void central_sums(const double *input, std::uint32_t window, std::uint32_t lo,
                      std::uint32_t last_start, double s1, double mean, RunningSums &sums);

private:
    // Two groups of the widest lanes.
    static constexpr std::uint32_t capacity = 16;

    AheadKernel kernel_;
    std::uint32_t lanes_; // windows per group; 1 computes on the spot only
    std::uint32_t first_ = 0;
    std::uint32_t count_ = 0;
    double mean_[capacity];
    double s2_[capacity];
    double s3_[capacity];
    double s4_[capacity];
};

} // namespace onset::kurtosis
