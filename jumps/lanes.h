// Full windows of four stretches of a block at once, one stretch per lane of
// a 256-bit vector, compiled for AVX2 and chosen at run time. Private to
// jumps/.
#pragma once

#include <cstddef>

namespace onset::jumps {

// Windows of `window` samples in four stretches of
// `span` starts from `first`: lane l writes the jumps of the `count` starts
// from first + l * span to their slots (slots[a] for the window starting at
// a), count a multiple of the window, and uses the slots of the next window
// of starts as scratch, so count + window <= span. The same bits as the
// plain path where no window holds a NaN. Returns the sum of every sample
// read: NaN when one of them is NaN.
double write_lanes_avx2(double *slots, const double *input, std::size_t window,
                        std::size_t first, std::size_t span, std::size_t count);

} // namespace onset::jumps
