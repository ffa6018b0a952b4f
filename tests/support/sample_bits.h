// Bit-level comparison of samples, for the suites, the fuzz targets and the
// corpus replays alike. Header only, and free of GoogleTest.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A fuzzer's coverage should follow the library, not the checks' own
// comparisons: clang leaves these uninstrumented.
#if defined(__clang__)
#define ONSET_TEST_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define ONSET_TEST_UNTRACED
#endif

namespace onset_test {

inline std::uint64_t bits_of(double value)
{
    std::uint64_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

// Bit-for-bit equality, any NaN equal to any NaN.
ONSET_TEST_UNTRACED inline bool same_sample(double expected, double actual)
{
    if (std::isnan(expected) || std::isnan(actual))
        return std::isnan(expected) && std::isnan(actual);
    return bits_of(expected) == bits_of(actual);
}

// Index of the first sample where the arrays differ (as same_sample), or n.
ONSET_TEST_UNTRACED inline std::size_t first_difference(const double *a, const double *b,
                                                        std::size_t n)
{
    std::size_t i = 0;
    while (i < n && same_sample(a[i], b[i]))
        ++i;
    return i;
}

// The same length and the same bits in every sample, NaN payloads and signs
// included.
inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

} // namespace onset_test
