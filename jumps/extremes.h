// First-occurrence extremes of a stretch of samples and the signed jump
// between them: the pieces that the head, the interior and the tail of the
// moving max-jump share.
#pragma once

#include <cstddef>
#include <limits>

namespace onset::jumps {

// The first largest and the first smallest sample of a stretch, values kept
// beside their indices. A stretch that holds a NaN has both indices on a NaN:
// a NaN loses every comparison, so once taken it stays, and the jump read
// from it is NaN.
struct Extremes {
    double max_value;
    double min_value;
    std::size_t max_index;
    std::size_t min_index;
};

inline Extremes single_sample(const double *input, std::size_t j)
{
    return {input[j], input[j], j, j};
}

// Adds sample j, later than every sample held: an equal value keeps the
// earlier index.
inline void extend_later(Extremes &x, const double *input, std::size_t j)
{
    const double v = input[j];
    if (v > x.max_value) {
        x.max_value = v;
        x.max_index = j;
    }
    if (v < x.min_value) {
        x.min_value = v;
        x.min_index = j;
    }
    if (v != v)
        x = {v, v, j, j};
}

// Adds sample j, earlier than every sample held: an equal value moves the
// index to it.
inline void extend_earlier(Extremes &x, const double *input, std::size_t j)
{
    const double v = input[j];
    if (v >= x.max_value) {
        x.max_value = v;
        x.max_index = j;
    }
    if (v <= x.min_value) {
        x.min_value = v;
        x.min_index = j;
    }
    if (v != v)
        x = {v, v, j, j};
}

// The sample at the later extreme minus the sample at the earlier one. Every
// NaN result is the same quiet NaN, whether a NaN sample or the difference of
// two equal infinities produced it, so that all paths agree bit for bit.
inline double signed_jump(const double *input, std::size_t max_index, std::size_t min_index)
{
    const std::size_t later = max_index > min_index ? max_index : min_index;
    const std::size_t earlier = max_index > min_index ? min_index : max_index;
    const double jump = input[later] - input[earlier];
    return jump == jump ? jump : std::numeric_limits<double>::quiet_NaN();
}

inline double signed_jump(const double *input, const Extremes &x)
{
    return signed_jump(input, x.max_index, x.min_index);
}

// Outputs 0 .. count - 1, whose windows start at sample 0 and end at
// min(length - 1, k + forward - 1).
void write_head(double *output, const double *input, std::size_t length,
                std::size_t forward, std::size_t count);

// The plain interior path, or four stretches at once in AVX2 lanes.
enum class InteriorPath { plain, avx2 };

// Whether this CPU runs the path.
bool path_available(InteriorPath path);
// The lanes where the CPU has them.
InteriorPath fastest_interior_path();

// Window starts first .. end - 1 of windows of `window` samples, each
// written to output[start + back]; returns the extremes of the last window,
// or its last NaN as both extremes when it holds one.
Extremes write_interior_block(double *output, const double *input, std::size_t window,
                              std::size_t back, std::size_t first, std::size_t end,
                              InteriorPath path);

// Outputs first_output .. length - 1, whose windows run from k - back to the
// end of the trace. `handed_back`, when given, holds the extremes of a window
// that ends at the end of the trace and starts at or before every one of
// these: windows that still hold both of its extremes take them unchanged.
void write_tail(double *output, const double *input, std::size_t length, std::size_t back,
                std::size_t first_output, const Extremes *handed_back);

} // namespace onset::jumps
