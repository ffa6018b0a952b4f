// The state of the sliding phase, for one trace (V = double) or for several
// traces in vector lanes, one trace per lane. Private to kurtosis/.
#pragma once

#include "kurtosis/central_sums.h"

#include <cstdint>

namespace onset::kurtosis {

// Constants of a window width, fixed for the whole phase.
template <class V> struct SlidingWidth {
    V width;
    V rw;  // 1 / w
    V rw1; // 1 / (w + 1)
    V p;   // w (w - 1) + 1
    V q;   // w - 1
};

inline SlidingWidth<double> sliding_width(std::uint32_t w)
{
    const double width = w;
    return {width, 1.0 / width, 1.0 / count_value(Count{w} + 1),
            count_value(Count{w} * (w - 1) + 1), count_value(w - 1)};
}

// The window's running sums, its mean as the steps form it (always rw S1),
// and 6 S2, -3 S2 and -4 S3: a step forms these for its new sums anyway, and
// the next step reuses them.
template <class V> struct SlidingSums {
    V s1, s2, s3, s4;
    V mean;
    V six_s2, minus3_s2, minus4_s3;
};

inline SlidingSums<double> sliding_sums(const RunningSums &sums, double mean)
{
    return {sums.s1, sums.s2, sums.s3, sums.s4, mean, 6.0 * sums.s2, sums.s2 * -3.0,
            sums.s3 * -4.0};
}

} // namespace onset::kurtosis
