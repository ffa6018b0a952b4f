// Sorting a later capture's picks out against an earlier event.
#include "event_merging.h"

#include <algorithm>

namespace detect {

namespace {

const onset_pick *find(const Event &event, const std::vector<int32_t> &unit, int32_t channel, int32_t phase)
{
    for (const onset_pick &p : event.picks)
        if (unit[static_cast<size_t>(p.channel)] == unit[static_cast<size_t>(channel)] && p.phase == phase) return &p;
    return nullptr;
}

}  // namespace

bool merge_later_picks(Event &earlier, Event &later, const std::vector<int32_t> &unit, int64_t moveout,
                       int64_t train_span)
{
    std::vector<onset_pick> kept, moved;
    bool changed = false;
    for (size_t i = 0; i < later.picks.size(); ++i) {
        const onset_pick &pick = later.picks[i];
        if (pick.phase != 'P') continue;  // its S follows its P, below
        // The S picks of this P follow it in the event's list.
        std::vector<onset_pick> with{pick};
        const int32_t own = unit[static_cast<size_t>(pick.channel)];
        for (size_t j = i + 1; j < later.picks.size() && unit[static_cast<size_t>(later.picks[j].channel)] == own &&
                               later.picks[j].phase == 'S';
             ++j)
            with.push_back(later.picks[j]);
        const onset_pick *p = find(earlier, unit, pick.channel, 'P');
        if (p && earlier.stations > 1 && pick.time > p->time && pick.time - p->time <= train_span) {
            if (!find(earlier, unit, pick.channel, 'S')) {
                onset_pick s = pick;
                s.phase = 'S';
                moved.push_back(s);
            }
            changed = true;
        } else if (!p && pick.time - earlier.earliest <= moveout && pick.time >= earlier.earliest) {
            moved.insert(moved.end(), with.begin(), with.end());
            earlier.clear = earlier.clear || later.clear;
            changed = true;
        } else {
            kept.insert(kept.end(), with.begin(), with.end());
        }
    }
    if (!changed) return false;
    earlier.picks.insert(earlier.picks.end(), moved.begin(), moved.end());
    later.picks = std::move(kept);
    return true;
}

void settle(Event &event, const std::vector<int32_t> &station)
{
    std::vector<int32_t> stations;
    event.earliest = INT64_MAX;
    for (const onset_pick &p : event.picks)
        if (p.phase == 'P') {
            stations.push_back(station[static_cast<size_t>(p.channel)]);
            event.earliest = std::min(event.earliest, p.time);
        }
    std::sort(stations.begin(), stations.end());
    event.stations = static_cast<int32_t>(std::unique(stations.begin(), stations.end()) - stations.begin());
}

}  // namespace detect
