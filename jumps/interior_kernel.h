// The blocked suffix and prefix passes of the interior (see interior.cpp),
// written once on a lane type: the plain path is its one-lane instance, and
// the vector lanes carry several stretches of window starts at once, one per
// lane, all lanes in step so that segment boundaries fall on the same step in
// every lane. Each lane makes exactly the plain path's comparisons on the
// same samples and forms the jump by the same subtraction of the same two
// samples, so the bits match where no window holds a NaN. Private to jumps/.
//
// Each side keeps its extreme values, copied from the samples themselves (so
// with their exact bits), and whether its first minimum comes no later than
// its first maximum (a rise). A suffix waits in the output slots until the
// forward pass replaces it by the jump:
// - one lane parks both indices of the suffix in the slot of its own start,
//   so it can finish any stretch (the values are read back by index);
// - vector lanes, which would have to gather by index, park the two values
//   instead: in the slot of the suffix's start and in the slot one window
//   further on, which belongs to the next segment and is not yet written;
//   maximum first for a rise. When maximum and minimum compare equal, every
//   sample of the suffix does, both extremes are its first sample and the
//   order does not matter. The last segment of a stretch has no such slots:
//   the plain path finishes it.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "simd/lanes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace onset::jumps {
namespace {

// Sample indices, kept by the one-lane path only: the vector lanes' empty
// stand-in costs nothing.
template <class L> struct Indices {
    struct Index {};
    static Index at(std::size_t, std::size_t) { return {}; }
    static Index choose(typename L::Mask, Index, Index) { return {}; }
};

template <> struct Indices<simd::PlainLanes> {
    using Index = std::size_t;
    static Index at(std::size_t first, std::size_t offset) { return first + offset; }
    // The empty asm hides the condition from the optimiser, which would
    // otherwise merge equal comparisons into a branch; a conditional move is
    // left. On noise such a branch would mispredict half the time.
    static Index choose(bool condition, Index if_true, Index if_false)
    {
        asm("" : "+r"(condition));
        return condition ? if_true : if_false;
    }
};

// One side's extremes.
template <class L> struct Side {
    typename L::Value max_value, min_value;
    typename L::Mask rise;
    typename Indices<L>::Index max_index, min_index;
};

// Lane l reads and writes its own stretch, `span` samples after lane l - 1;
// offsets are relative to the first stretch.
template <class L> struct Stretches {
    using V = typename L::Value;
    using M = typename L::Mask;
    using I = Indices<L>;

    const double *input; // of the trace
    double *slots;       // slot of the window starting at a: slots[a]
    std::size_t first;   // first window start of lane 0
    std::size_t span;
    std::size_t window;

    V sample(std::size_t offset) const { return L::strided(input + first + offset, span); }
    typename I::Index index(std::size_t offset) const { return I::at(first, offset); }

    void park(std::size_t offset, const Side<L> &s) const
    {
        if constexpr (L::width == 1) {
            const std::uint64_t packed =
                (std::uint64_t(s.max_index) << 32) | std::uint32_t(s.min_index);
            std::memcpy(slots + first + offset, &packed, sizeof packed);
        } else {
            L::store_strided(slots + first + offset, span,
                             L::select(s.rise, s.max_value, s.min_value));
            L::store_strided(slots + first + offset + window, span,
                             L::select(s.rise, s.min_value, s.max_value));
        }
    }

    Side<L> unpark(std::size_t offset) const
    {
        Side<L> s;
        if constexpr (L::width == 1) {
            std::uint64_t packed;
            std::memcpy(&packed, slots + first + offset, sizeof packed);
            s.max_index = packed >> 32;
            s.min_index = packed & 0xffffffffu;
            s.max_value = input[s.max_index];
            s.min_value = input[s.min_index];
            s.rise = s.min_index <= s.max_index;
        } else {
            const V first_value = L::strided(slots + first + offset, span);
            const V second_value = L::strided(slots + first + offset + window, span);
            s.rise = L::greater_equal(first_value, second_value);
            s.max_value = L::select(s.rise, first_value, second_value);
            s.min_value = L::select(s.rise, second_value, first_value);
        }
        return s;
    }

    // The sample at the later extreme minus the sample at the earlier one;
    // every NaN the one quiet NaN, as in signed_jump.
    void store_jump(std::size_t offset, const Side<L> &s) const
    {
        const V jump = L::select(s.rise, s.max_value - s.min_value, s.min_value - s.max_value);
        const V quiet = L::broadcast(std::numeric_limits<double>::quiet_NaN());
        L::store_strided(slots + first + offset, span,
                         L::select(L::unordered(jump, jump), quiet, jump));
    }
};

// Extremes of every suffix [a, last] for a in [segment, starts_end), built
// from `last` backwards; an equal earlier sample takes the extreme. Every
// sample taken is added to `probe`, which a NaN turns into NaN.
template <class L>
inline void park_suffixes(const Stretches<L> &lanes, std::size_t segment,
                          std::size_t starts_end, std::size_t last, typename L::Value &probe)
{
    using V = typename L::Value;
    using I = Indices<L>;
    Side<L> s;
    s.max_value = s.min_value = lanes.sample(last);
    s.max_index = s.min_index = lanes.index(last);
    s.rise = L::all_set();
    probe = probe + s.max_value;
    auto take = [&](std::size_t j) {
        const V v = lanes.sample(j);
        probe = probe + v;
        const auto takes_max = L::greater_equal(v, s.max_value);
        const auto takes_min = L::less_equal(v, s.min_value);
        // A new first minimum is a rise; a new first maximum alone a drop.
        s.rise = L::either(takes_min, L::but_not(s.rise, takes_max));
        s.max_index = I::choose(takes_max, lanes.index(j), s.max_index);
        s.min_index = I::choose(takes_min, lanes.index(j), s.min_index);
        s.max_value = L::select(takes_max, v, s.max_value);
        s.min_value = L::select(takes_min, v, s.min_value);
    };
    // Samples past the last start are in the windows but own no slot here.
    for (std::size_t j = last; j-- > starts_end;)
        take(j);
    // Taking `last` a second time (full segment) changes nothing.
    for (std::size_t j = starts_end; j-- > segment;) {
        take(j);
        lanes.park(j, s);
    }
}

// Joins each parked suffix with the growing prefix [segment + window,
// a + window - 1] and writes the jump; leaves the extremes of the segment's
// last window in `last`. Adds every sample taken to `probe`.
template <class L>
inline void join_prefixes(const Stretches<L> &lanes, std::size_t segment, std::size_t starts_end,
                          Side<L> &last, typename L::Value &probe)
{
    using V = typename L::Value;
    using I = Indices<L>;
    // The first window of the segment is a whole suffix.
    last = lanes.unpark(segment);
    lanes.store_jump(segment, last);
    Side<L> p;
    p.max_value = L::broadcast(-std::numeric_limits<double>::infinity());
    p.min_value = L::broadcast(std::numeric_limits<double>::infinity());
    p.max_index = p.min_index = lanes.index(segment);
    p.rise = L::all_set();
    for (std::size_t a = segment + 1; a < starts_end; ++a) {
        const std::size_t j = a + lanes.window - 1;
        const V v = lanes.sample(j);
        probe = probe + v;
        const auto beyond_max = L::greater(v, p.max_value);
        const auto beyond_min = L::less(v, p.min_value);
        // A new last maximum is a rise; a new last minimum alone a drop.
        p.rise = L::either(beyond_max, L::but_not(p.rise, beyond_min));
        p.max_index = I::choose(beyond_max, lanes.index(j), p.max_index);
        p.min_index = I::choose(beyond_min, lanes.index(j), p.min_index);
        p.max_value = L::select(beyond_max, v, p.max_value);
        p.min_value = L::select(beyond_min, v, p.min_value);
        const Side<L> s = lanes.unpark(a);
        // The suffix is earlier: the prefix wins only when strictly beyond.
        const auto prefix_max = L::greater(p.max_value, s.max_value);
        const auto prefix_min = L::less(p.min_value, s.min_value);
        last.max_value = L::select(prefix_max, p.max_value, s.max_value);
        last.min_value = L::select(prefix_min, p.min_value, s.min_value);
        last.max_index = I::choose(prefix_max, p.max_index, s.max_index);
        last.min_index = I::choose(prefix_min, p.min_index, s.min_index);
        // Both extremes on one side: that side's order; otherwise the
        // prefix's extreme is the later one.
        last.rise = L::either(L::both(prefix_min, L::both(prefix_max, p.rise)),
                              L::but_not(L::either(prefix_max, s.rise), prefix_min));
        lanes.store_jump(a, last);
    }
}

// Window starts [first, first + count) of every lane's stretch, cut into
// segments of `window` starts (the last one possibly shorter, one lane
// only); leaves the extremes of each lane's last window in `last`. Returns
// the sum of every sample read, lane by lane: NaN where a lane read a NaN.
template <class L>
inline typename L::Value write_segments(double *slots, const double *input, std::size_t window,
                                        std::size_t first, std::size_t span, std::size_t count,
                                        Side<L> &last)
{
    const Stretches<L> lanes{input, slots, first, span, window};
    typename L::Value probe = L::broadcast(0.0);
    for (std::size_t segment = 0; segment < count; segment += window) {
        const std::size_t starts_end = count - segment < window ? count : segment + window;
        park_suffixes(lanes, segment, starts_end, segment + window - 1, probe);
        join_prefixes(lanes, segment, starts_end, last, probe);
    }
    return probe;
}

} // namespace
} // namespace onset::jumps
