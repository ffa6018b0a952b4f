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
#include "jumps/lanes.h"

#include <cstdint>
#include <cstring>

namespace onset::jumps {

namespace {

// Below this many starts per lane the plain path alone is as fast.
constexpr std::size_t min_lane_span = 16;

// An output slot holds both indices of a suffix until its jump is known;
// indices of a trace fit in 32 bits because its length does.
void park(double *slot, std::size_t max_index, std::size_t min_index)
{
    const std::uint64_t packed = (std::uint64_t(max_index) << 32) | std::uint32_t(min_index);
    std::memcpy(slot, &packed, sizeof packed);
}

void unpark(const double *slot, std::size_t &max_index, std::size_t &min_index)
{
    std::uint64_t packed;
    std::memcpy(&packed, slot, sizeof packed);
    max_index = packed >> 32;
    min_index = packed & 0xffffffffu;
}

// The empty asm hides the condition from the optimiser, which would
// otherwise merge equal comparisons into a branch; a conditional move is
// left. On noise such a branch would mispredict half the time.
std::size_t choose(bool condition, std::size_t if_true, std::size_t if_false)
{
    asm("" : "+r"(condition));
    return condition ? if_true : if_false;
}

// Extremes of every suffix [a, last] for a in [segment, starts_end), built
// from `last` backwards; an equal earlier sample takes the index. Values
// only steer the comparisons, the indices are what counts. Every sample
// taken is added to `probe`, which a NaN turns into NaN.
void park_suffixes(double *slots, const double *input, std::size_t segment,
                   std::size_t starts_end, std::size_t last, double &probe)
{
    double max_value = input[last], min_value = max_value;
    std::size_t max_index = last, min_index = last;
    probe += max_value;
    auto take = [&](std::size_t j) {
        const double v = input[j];
        probe += v;
        max_index = choose(v >= max_value, j, max_index);
        min_index = choose(v <= min_value, j, min_index);
        max_value = v > max_value ? v : max_value;
        min_value = v < min_value ? v : min_value;
    };
    // Samples past the last start are in the windows but own no slot here.
    for (std::size_t j = last; j-- > starts_end;)
        take(j);
    // Taking `last` a second time (full segment) changes nothing.
    for (std::size_t j = starts_end; j-- > segment;) {
        take(j);
        park(slots + j, max_index, min_index);
    }
}

// Joins each parked suffix with the growing prefix and writes the jump;
// leaves the extremes of the segment's last window in `imax` and `imin`.
// Adds every sample taken to `probe`.
void join_prefixes(double *slots, const double *input, std::size_t window,
                   std::size_t segment, std::size_t starts_end, std::size_t &imax,
                   std::size_t &imin, double &probe)
{
    // The first window of the segment is a whole suffix.
    unpark(slots + segment, imax, imin);
    slots[segment] = signed_jump(input, imax, imin);
    double max_value = -std::numeric_limits<double>::infinity();
    double min_value = std::numeric_limits<double>::infinity();
    std::size_t max_index = segment, min_index = segment;
    for (std::size_t a = segment + 1; a < starts_end; ++a) {
        const std::size_t j = a + window - 1;
        const double v = input[j];
        probe += v;
        max_index = choose(v > max_value, j, max_index);
        min_index = choose(v < min_value, j, min_index);
        max_value = v > max_value ? v : max_value;
        min_value = v < min_value ? v : min_value;
        std::size_t suffix_max, suffix_min;
        unpark(slots + a, suffix_max, suffix_min);
        // The suffix is earlier: the prefix wins only when strictly beyond.
        imax = choose(max_value > input[suffix_max], max_index, suffix_max);
        imin = choose(min_value < input[suffix_min], min_index, suffix_min);
        slots[a] = signed_jump(input, imax, imin);
    }
}

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
// the last window in `imax` and `imin`.
void write_plain(double *slots, const double *input, std::size_t window, std::size_t first,
                 std::size_t end, std::size_t &imax, std::size_t &imin, double &probe)
{
    for (std::size_t segment = first; segment < end; segment += window) {
        const std::size_t starts_end = end - segment < window ? end : segment + window;
        park_suffixes(slots, input, segment, starts_end, segment + window - 1, probe);
        join_prefixes(slots, input, window, segment, starts_end, imax, imin, probe);
    }
}

} // namespace

InteriorPath fastest_interior_path()
{
    return lanes_available() ? InteriorPath::lanes : InteriorPath::plain;
}

Extremes write_interior_block(double *output, const double *input, std::size_t window,
                              std::size_t back, std::size_t first, std::size_t end,
                              InteriorPath path)
{
    double *slots = output + back; // slot of the window starting at a
    std::size_t imax = first, imin = first;
    // The sum of every sample of the block's windows: a number proves that
    // none is NaN, as most traces hold none.
    double probe = 0;
    // The lanes take whole segments of four equal stretches, each but the
    // last segment of a stretch, whose scratch slots would lie past it; the
    // plain passes do the rest of each stretch.
    const std::size_t span = (end - first) / 4;
    const std::size_t segments = span / window;
    if (path == InteriorPath::lanes && segments >= 2 && span >= min_lane_span) {
        probe += write_lanes_avx2(slots, input, window, first, span, segments - 1);
        for (std::size_t lane = 0; lane < 4; ++lane) {
            const std::size_t rest = first + lane * span + (segments - 1) * window;
            const std::size_t rest_end = lane < 3 ? first + (lane + 1) * span : end;
            write_plain(slots, input, window, rest, rest_end, imax, imin, probe);
        }
    } else {
        write_plain(slots, input, window, first, end, imax, imin, probe);
    }
    if (probe != probe) {
        const std::size_t none = end + window; // past every sample of the block
        const std::size_t nan_index = mark_nan_windows(slots, input, window, first, end, none);
        if (nan_index != none)
            return single_sample(input, nan_index);
    }
    return {input[imax], input[imin], imax, imin};
}

} // namespace onset::jumps
