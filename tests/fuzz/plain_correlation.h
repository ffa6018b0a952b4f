// The circular decimated correlation written plainly: one output at a
// time, 64-bit index arithmetic, true residues, the fixed summation order.
#pragma once

#include "fuzz_support.h"

#include <algorithm>
#include <cstdint>

namespace onset_fuzz {

// Adds the products a[i] * b[i], i < length, to `sum` in pairs.
ONSET_TEST_UNTRACED inline double add_run(double sum, const double *a, const double *b, std::uint64_t length)
{
    std::uint64_t i = 0;
    for (; i + 1 < length; i += 2) {
        const double pair = a[i] * b[i] + a[i + 1] * b[i + 1];
        sum = sum + pair;
    }
    if (i < length)
        sum = sum + a[i] * b[i];
    return sum;
}

// Output at `position` of the longer operand a (big samples) against b.
ONSET_TEST_UNTRACED inline double plain_output(const double *a, std::uint64_t big, const double *b,
                           std::uint64_t small, std::int64_t center, std::uint64_t position)
{
    const std::int64_t n = static_cast<std::int64_t>(big);
    const std::int64_t c = ((center % n) + n) % n;
    const std::uint64_t start =
        static_cast<std::uint64_t>(((static_cast<std::int64_t>(position) - c) % n + n) % n);
    const std::uint64_t first = std::min(big - start, small);
    double sum = 0.0;
    sum = add_run(sum, a + start, b, first);
    return add_run(sum, a, b + first, small - first);
}

} // namespace onset_fuzz
