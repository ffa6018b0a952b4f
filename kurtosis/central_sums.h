// Running sums of a window and the direct computations the moving kurtosis
// falls back on. Private to kurtosis/.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace onset::kurtosis {

// A window's sum S1 and its central-moment sums S2, S3, S4.
struct RunningSums {
    double s1;
    double s2;
    double s3;
    double s4;
};

// Products of counts are formed in 64 bits, so that windows wider than 65536
// samples still get exact factors (up to 2^53); for narrower windows they
// equal the 32-bit products bit for bit.
using Count = std::uint64_t;
inline double count_value(Count c) { return static_cast<double>(c); }

// K = N S4 / S2^2; 0/0 (NaN) for a window without spread.
inline double kurtosis_of(double count, double s2, double s4) { return (count * s4) / (s2 * s2); }

// No window has K below 1, and the band 1.5 .. 15 holds almost every window
// of real data: a value outside it means the running sums have drifted and
// are rebuilt. NaN passes, as it comes from a window without spread.
inline bool in_band(double k) { return k >= 1.5 && k <= 15.0; }
inline bool plausible(double k) { return in_band(k) || std::isnan(k); }

// Every NaN the moving kurtosis writes is this one quiet NaN. Which NaN an
// operation on two NaN passes on depends on the order in which the compiler
// put its operands, which differs between the plain loop and the vector
// lanes; the outputs must not.
inline double stored(double k) { return k == k ? k : std::numeric_limits<double>::quiet_NaN(); }

inline bool all_finite(const RunningSums &sums)
{
    // Counted rather than chained with &&: one test, no branch per sum.
    return std::isfinite(sums.s1) + std::isfinite(sums.s2) + std::isfinite(sums.s3)
               + std::isfinite(sums.s4) == 4;
}

// Sum of [first, last) taken in ascending order from 0.0.
inline double window_sum(const double *first, const double *last)
{
    double sum = 0.0;
    for (; first != last; ++first)
        sum = sum + *first;
    return sum;
}

// S2, S3, S4 of [first, last) about `mean`, each sum taken in ascending order.
inline void central_sums_about(const double *first, const double *last, double mean,
                               RunningSums &sums)
{
    double s2 = 0.0;
    double s3 = 0.0;
    double s4 = 0.0;
    for (; first != last; ++first) {
        const double d = *first - mean;
        const double q = d * d;
        s2 = s2 + q;
        s3 = s3 + d * q;
        s4 = s4 + q * q;
    }
    sums.s2 = s2;
    sums.s3 = s3;
    sums.s4 = s4;
}

} // namespace onset::kurtosis
