// The search of one later trace for the member of a capture.
#pragma once

#include "onset.h"

#include <cmath>
#include <cstdint>

namespace onset::picker {

constexpr int32_t no_member = -1;

// Index of the event that the trace gives to a capture seeded at seed_time
// with the seed trace's tolerance, or no_member. The window tests are made on
// the difference seed minus candidate as computed, so a NaN difference (NaN
// time or tolerance) makes the candidate the first match. From the first
// match the look-ahead keeps going while the distance does not exceed the
// first match's own, which stays fixed; the member is the last event of that
// run. The cursor moves only on a decision, to the member or to the first
// free candidate after the window, and never backwards.
//
// A search that reaches the end without a decision leaves the cursor p as
// ~p (below zero): the cursor stays p, marked as exhausted. Every event it
// passed was taken or lay before the window (a NaN time or tolerance would
// have made a match), and stays so for the later seeds of the same seed
// trace, which share its tolerance, as long as none is earlier: flags are
// never cleared, and seed minus time, rounded, does not decrease as the seed
// grows. So while the seeds ascend an exhausted trace is skipped instead of
// scanned again, which keeps a trace whose free events all lie behind the
// seeds from costing a full scan per seed. A seed below its predecessor, or
// a NaN on either side, scans from p as usual.
inline int32_t find_member(const Pick *picks, const uint8_t *taken, int32_t count,
                           double seed_time, double tolerance, bool seeds_ascending,
                           int32_t &cursor)
{
    int32_t start = cursor;
    if (start < 0) {
        if (seeds_ascending)
            return no_member;
        start = ~start;
    }
    for (int32_t j = start; j < count; ++j) {
        if (taken[j] != 0)
            continue;
        const double first_distance = seed_time - picks[j].time;
        if (first_distance > tolerance)
            continue; // before the window
        if (first_distance < -tolerance) {
            cursor = j; // after the window
            return no_member;
        }
        const double reach = std::fabs(first_distance);
        int32_t k = j + 1;
        while (k < count && taken[k] == 0 && !(std::fabs(seed_time - picks[k].time) > reach))
            ++k;
        cursor = k - 1;
        return k - 1;
    }
    cursor = ~start;
    return no_member;
}

} // namespace onset::picker
