#include "events.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <set>

#include "onset.h"

namespace detect {

namespace {

struct TimedOnset {
    double seconds;  // since the earliest trace start
    size_t trace;
    const Onset *onset;
};

// One call of `captures` on a set of onsets that no capture can link to
// onsets outside it.
void capture_block(const std::vector<Trace> &traces, const std::vector<TimedOnset> &block,
                   double tolerance, int min_stations,
                   std::vector<Event> &events)
{
    const size_t n = traces.size();
    std::vector<std::vector<Pick>> picks(n);
    std::vector<std::vector<const Onset *>> sources(n);
    for (const TimedOnset &o : block) {
        Pick pick{};
        pick.time = o.seconds;
        picks[o.trace].push_back(pick);
        sources[o.trace].push_back(o.onset);
    }
    std::vector<const Pick *> pick_arrays(n);
    std::vector<int32_t> counts(n);
    std::vector<double> tolerances(n, tolerance);
    std::vector<std::vector<uint8_t>> taken(n);
    std::vector<uint8_t *> taken_arrays(n);
    for (size_t t = 0; t < n; ++t) {
        pick_arrays[t] = picks[t].data();
        counts[t] = static_cast<int32_t>(picks[t].size());
        taken[t].assign(picks[t].size(), 0);
        taken_arrays[t] = taken[t].data();
    }
    std::vector<const Pick *> members(block.size() * n);
    std::vector<int32_t> member_traces(block.size() * n), sizes(block.size());
    const CaptureSet set{members.data(), member_traces.data(), sizes.data(),
                         static_cast<int32_t>(n)};
    const int32_t groups =
        captures(&set, pick_arrays.data(), counts.data(), tolerances.data(), taken_arrays.data());
    if (groups < 0) throw std::bad_alloc();

    for (int32_t g = 0; g < groups; ++g) {
        Event event{};
        std::set<std::string> stations;
        for (int32_t s = 0; s < sizes[g]; ++s) {
            const size_t slot = static_cast<size_t>(g) * n + static_cast<size_t>(s);
            const size_t t = static_cast<size_t>(member_traces[slot]);
            const size_t index = static_cast<size_t>(members[slot] - picks[t].data());
            const Onset &onset = *sources[t][index];
            event.picks.push_back({t, traces[t].time_of(static_cast<double>(onset.index)),
                                   onset.strength});
            stations.insert(traces[t].station());
        }
        event.stations = static_cast<int>(stations.size());
        if (event.stations < min_stations) continue;
        event.earliest = event.picks.front().time;
        for (const EventPick &p : event.picks) event.earliest = std::min(event.earliest, p.time);
        events.push_back(std::move(event));
    }
}

}  // namespace

std::vector<Event> group_events(const std::vector<Trace> &traces,
                                const std::vector<std::vector<Onset>> &onsets,
                                double tolerance, int min_stations)
{
    if (traces.empty()) return {};
    Microseconds origin = traces.front().start;
    for (const Trace &t : traces) origin = std::min(origin, t.start);

    std::vector<TimedOnset> all;
    for (size_t t = 0; t < traces.size(); ++t)
        for (const Onset &o : onsets[t])
            all.push_back({static_cast<double>(traces[t].time_of(static_cast<double>(o.index)) -
                                               origin) * 1e-6,
                           t, &o});
    std::stable_sort(all.begin(), all.end(), [](const TimedOnset &a, const TimedOnset &b) {
        return a.seconds < b.seconds;
    });

    // A capture's picks lie within the tolerance of its seed, so onsets more
    // than twice the tolerance apart from all others can be grouped
    // separately: the output arrays then stay small for long recordings.
    const size_t block_target = 4096;
    std::vector<Event> events;
    size_t begin = 0;
    for (size_t i = 1; i <= all.size(); ++i) {
        const bool cut = i == all.size() ||
                         (i - begin >= block_target && all[i].seconds - all[i - 1].seconds > 2 * tolerance);
        if (!cut) continue;
        // Within a block, each trace's onsets must stay in time order.
        std::vector<TimedOnset> block(all.begin() + static_cast<std::ptrdiff_t>(begin),
                                      all.begin() + static_cast<std::ptrdiff_t>(i));
        std::stable_sort(block.begin(), block.end(), [](const TimedOnset &a, const TimedOnset &b) {
            return a.trace < b.trace;
        });
        capture_block(traces, block, tolerance, min_stations, events);
        begin = i;
    }
    std::sort(events.begin(), events.end(),
              [](const Event &a, const Event &b) { return a.earliest < b.earliest; });
    return events;
}

}  // namespace detect
