// Integer division rounding down, for sample indices on either side of 0.
#ifndef ONSET_DETECT_INDEX_MATH_H
#define ONSET_DETECT_INDEX_MATH_H

#include <cstdint>

namespace detect {

inline int64_t floor_divide(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace detect

#endif
