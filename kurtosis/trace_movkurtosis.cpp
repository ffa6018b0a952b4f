// Moving kurtosis of one trace: the exported entry and the order of phases.
#include "onset.h"

#include "kurtosis/moving_kurtosis.h"

#include <algorithm>
#include <limits>

namespace onset::kurtosis {

void moving_kurtosis(double *output, const double *input, std::uint32_t length,
                     std::uint32_t window, simd::Isa path)
{
    if (length == 0)
        return;
    if (window == 0) {
        // Every window is empty.
        std::fill(output, output + length, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    const std::uint32_t half = window >> 1;
    const std::uint32_t widest = std::min(length, window);
    const std::uint32_t first_last = std::min(half, length - 1);

    MovingKurtosis trace(output, input, length, window, path);
    trace.first_output(first_last);
    trace.grow(first_last + 1, widest);
    if (length > window) {
        trace.slide(0);
    } else {
        // A trace shorter than its window: the windows between the last
        // entering sample and the first leaving one span the whole trace.
        const std::uint32_t last_grown = widest - 1 > half ? widest - 1 - half : 0;
        trace.hold(last_grown + 1, std::min(window - half, length));
    }
    trace.shrink(std::max(length, window) - half);
}

} // namespace onset::kurtosis

extern "C" ONSET_API void trace_movkurtosis(double *output, const double *input,
                                            uint32_t length, uint32_t window)
{
    onset::kurtosis::moving_kurtosis(output, input, length, window,
                                     onset::kurtosis::fastest_ahead_isa());
}
