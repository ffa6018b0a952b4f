// The ends of the trace, on the calling thread: windows cut off by the start
// grow by one sample per output, windows cut off by the end shrink by one.
#include "jumps/extremes.h"

namespace onset::jumps {

void write_head(double *output, const double *input, std::size_t length,
                std::size_t forward, std::size_t count)
{
    if (count == 0)
        return;
    Extremes x = single_sample(input, 0);
    std::size_t last = 0; // last sample in the window so far
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t window_end = k + forward - 1 < length ? k + forward - 1 : length - 1;
        while (last < window_end)
            extend_later(x, input, ++last);
        output[k] = signed_jump(input, x);
    }
}

void write_tail(double *output, const double *input, std::size_t length, std::size_t back,
                std::size_t first_output, const Extremes *handed_back)
{
    if (first_output >= length)
        return;
    const std::size_t first_start = first_output - back;
    const std::size_t last_start = length - 1 - back;
    // Suffixes are built from the end backwards, so each costs one step. A
    // window that starts at or before both handed-back extremes holds them,
    // and they stay its first extremes: the scan stops there.
    std::size_t scan_stop = first_start;
    if (handed_back) {
        const std::size_t earlier = handed_back->max_index < handed_back->min_index
                                        ? handed_back->max_index
                                        : handed_back->min_index;
        if (earlier + 1 > scan_stop)
            scan_stop = earlier + 1;
    }
    if (scan_stop < length) {
        Extremes x = single_sample(input, length - 1);
        for (std::size_t start = length; start-- > scan_stop;) {
            if (start < length - 1)
                extend_earlier(x, input, start);
            if (start <= last_start)
                output[start + back] = signed_jump(input, x);
        }
    }
    for (std::size_t start = first_start; start < scan_stop && start <= last_start; ++start)
        output[start + back] = signed_jump(input, *handed_back);
}

} // namespace onset::jumps
