// One event per event: captures that hold the late stations or the later
// waves of an earlier event join it.
#ifndef ONSET_DETECT_EVENT_MERGING_H
#define ONSET_DETECT_EVENT_MERGING_H

#include <cstdint>
#include <vector>

#include "event_grouping.h"

namespace detect {

// A capture's window is the seed's tolerance, so the stations that an
// event reaches last can fall into a capture of their own; and where a
// channel's wave train ended early, its S wave or coda comes as a P. The
// P picks of `later` are sorted out against `earlier`, by the station that
// picked them (unit[c]: the picking station of channel c):
// - on a station where `earlier`, seen on two stations or more, has its P
//   up to `train_span` before: it is that station's S (when it has none
//   yet), or coda, and dropped;
// - on a station without a pick in `earlier`, within `moveout` of its
//   earliest pick: a late station of it.
// Each pick that moves takes its own S with it. Returns whether any moved.
bool merge_later_picks(Event &earlier, Event &later, const std::vector<int32_t> &unit, int64_t moveout,
                       int64_t train_span);

// Counts the distinct stations of the event's P picks and finds its
// earliest one; station[c] is channel c's station.
void settle(Event &event, const std::vector<int32_t> &station);

}  // namespace detect

#endif
