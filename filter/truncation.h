// Float-to-integer truncation with a defined result everywhere.
#pragma once

#include <cstdint>

namespace onset::filter {

// x truncated towards zero; NaN, infinities and magnitudes of 2^63 or more
// give -2^63, the value x86-64's truncating conversion produces, without
// relying on an out-of-range conversion (undefined in C++).
inline std::int64_t truncate_to_int64(double x)
{
    if (!(x >= -0x1p63 && x < 0x1p63))
        return INT64_MIN;
    return static_cast<std::int64_t>(x);
}

} // namespace onset::filter
