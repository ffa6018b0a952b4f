// Full windows of one thread's block, each costing a fixed number of steps
// whatever the width: the block's window starts are cut into segments of
// `window` starts; the window starting at a in segment [s, s + window) is the
// suffix [a, s + window - 1] joined to the prefix [s + window, a + window - 1].
// The suffix extremes wait in the output slots of their windows until the
// forward pass replaces them by the jumps.
//
// The passes are written without data-dependent branches (noise would
// mispredict them) and leave NaN out: a NaN loses every comparison. The
// windows that hold a NaN are set to NaN afterwards.
#include "jumps/extremes.h"
#include "jumps/interior_kernel.h"
#include "jumps/lanes.h"
#include "simd/lanes.h"

namespace onset::jumps {

namespace {

// Below this many starts per lane the plain path alone is as fast.
constexpr std::size_t min_lane_span = 16;

// Sets to NaN the outputs of the starts first .. end - 1 whose window holds a
// NaN; returns the last NaN of the last window, or `none` if it holds none.
std::size_t mark_nan_windows(double *slots, const double *input, std::size_t window,
                             std::size_t first, std::size_t end, std::size_t none)
{
    std::size_t last_nan = none;
    std::size_t marked_end = first;
    for (std::size_t p = first; p < end + window - 1; ++p) {
        if (input[p] == input[p])
            continue;
        const std::size_t lowest = p + 1 >= window ? p + 1 - window : 0;
        const std::size_t from = lowest > marked_end ? lowest : marked_end;
        marked_end = p + 1 < end ? p + 1 : end;
        for (std::size_t a = from; a < marked_end; ++a)
            slots[a] = std::numeric_limits<double>::quiet_NaN();
        last_nan = p;
    }
    return last_nan + 1 >= end ? last_nan : none;
}

// Window starts first .. end - 1 by the plain passes; leaves the extremes of
// the last window in `last`.
void write_plain(double *slots, const double *input, std::size_t window, std::size_t first,
                 std::size_t end, Side<simd::PlainLanes> &last, double &probe)
{
    probe += write_segments<simd::PlainLanes>(slots, input, window, first, 1, end - first, last);
}

} // namespace

bool path_available(InteriorPath path)
{
    return path == InteriorPath::plain || simd::runs(simd::Isa::avx2);
}

// Eight AVX-512 lanes are slower here than four AVX2 ones (interior of 10^6
// samples, w = 16 to 1024: 2.0 to 2.2 ms against 1.5 to 1.9): the lanes read
// and write one sample per lane each step, and twice the lanes cost twice
// the loads and stores for the same vector arithmetic.
InteriorPath fastest_interior_path()
{
    return path_available(InteriorPath::avx2) ? InteriorPath::avx2 : InteriorPath::plain;
}

Extremes write_interior_block(double *output, const double *input, std::size_t window,
                              std::size_t back, std::size_t first, std::size_t end,
                              InteriorPath path)
{
    double *slots = output + back; // slot of the window starting at a
    // The sum of every sample of the block's windows: a number proves that
    // none is NaN, as most traces hold none.
    double probe = 0;
    // The lanes take whole segments of equal stretches, one stretch each, all
    // but the last segment of a stretch, whose scratch slots would lie past
    // it; the plain passes do the rest of each stretch.
    const std::size_t lanes = path == InteriorPath::avx2 ? simd::Avx2Lanes::width : 1;
    const std::size_t span = (end - first) / lanes;
    const std::size_t segments = span / window;
    Side<simd::PlainLanes> last{};
    if (lanes > 1 && segments >= 2 && span >= min_lane_span) {
        const std::size_t lane_starts = (segments - 1) * window;
        probe += write_lanes_avx2(slots, input, window, first, span, lane_starts);
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            const std::size_t rest = first + lane * span + lane_starts;
            const std::size_t rest_end = lane + 1 < lanes ? first + (lane + 1) * span : end;
            write_plain(slots, input, window, rest, rest_end, last, probe);
        }
    } else {
        write_plain(slots, input, window, first, end, last, probe);
    }
    if (probe != probe) {
        const std::size_t none = end + window; // past every sample of the block
        const std::size_t nan_index = mark_nan_windows(slots, input, window, first, end, none);
        if (nan_index != none)
            return single_sample(input, nan_index);
    }
    return {input[last.max_index], input[last.min_index], last.max_index, last.min_index};
}

} // namespace onset::jumps
