// Grouping of the events of several traces into captures, once the working
// storage is in hand.
#include "picker/capture_grouping.h"

#include "picker/member_search.h"
#include "picker/zero_fill.h"

#include <cstddef>
#include <cstring>
#include <limits>

// The host lays these records out itself: their layout is part of the
// library's interface.
static_assert(sizeof(Pick) == 64, "a Pick is 64 bytes");
static_assert(offsetof(Pick, time) == 24, "a Pick's time is at byte 24");
static_assert(sizeof(Pick::time) == 8, "a Pick's time is a 64-bit sample");
static_assert(offsetof(CaptureSet, members) == 0, "members comes first");
static_assert(offsetof(CaptureSet, traces) == sizeof(void *), "traces follows members");
static_assert(offsetof(CaptureSet, sizes) == 2 * sizeof(void *), "sizes follows traces");
static_assert(offsetof(CaptureSet, count) == 3 * sizeof(void *), "count follows sizes");
static_assert(sizeof(CaptureSet::members) == sizeof(void *), "members is a pointer");
static_assert(sizeof(CaptureSet::traces) == sizeof(void *), "traces is a pointer");
static_assert(sizeof(CaptureSet::sizes) == sizeof(void *), "sizes is a pointer");
static_assert(sizeof(CaptureSet::count) == 4, "count is a 32-bit integer");

namespace onset::picker {

int32_t group_captures(const CaptureSet &set, const Pick *const *picks,
                       const int32_t *counts, const double *tolerances,
                       uint8_t *const *taken, const CaptureStorage &storage)
{
    const int32_t traces = set.count;
    const auto block = static_cast<std::size_t>(traces);
    const Pick **slots = storage.slots;
    int32_t *slot_traces = storage.slot_traces;
    int32_t *cursors = storage.cursors;
    const Pick **member_out = set.members;
    int32_t *trace_out = set.traces;
    int32_t *sizes = set.sizes;

    clear_slots(slots, slot_traces, traces);
    clear_cursors(cursors, traces);

    int32_t captured = 0;
    for (int32_t t = 0; t < traces; ++t) {
        const double tolerance = tolerances[t];
        const int32_t seed_count = counts[t];
        bool seeded = false;
        double previous_seed_time = -std::numeric_limits<double>::infinity();
        for (int32_t k = 0; k < seed_count; ++k) {
            if (taken[t][k] != 0)
                continue;
            seeded = true;
            const Pick *seed = picks[t] + k;
            const double seed_time = seed->time;
            // False for a NaN on either side: then every trace is searched.
            const bool seeds_ascending = seed_time >= previous_seed_time;
            previous_seed_time = seed_time;
            slots[0] = seed;
            slot_traces[0] = t;
            taken[t][k] = 1;
            int32_t used = 1;
            for (int32_t i = t + 1; i < traces; ++i) {
                const int32_t member = find_member(picks[i], taken[i], counts[i],
                                                   seed_time, tolerance, seeds_ascending,
                                                   cursors[i]);
                if (member == no_member)
                    continue;
                slots[used] = picks[i] + member;
                slot_traces[used] = i;
                ++used;
                taken[i][member] = 1;
            }
            sizes[captured] = used;
            std::memcpy(member_out, slots, block * sizeof(*slots));
            std::memcpy(trace_out, slot_traces, block * sizeof(*slot_traces));
            member_out += block;
            trace_out += block;
            // Slots fill from 0 upwards, so the used ones are all that need
            // clearing for the next capture.
            clear_slots(slots, slot_traces, used);
            ++captured;
        }
        // Cursors, exhausted marks included, serve the seeds of one seed trace
        // only. A trace that seeded nothing moved none, so they are still zero.
        if (seeded)
            clear_cursors(cursors, traces);
    }
    return captured;
}

} // namespace onset::picker
