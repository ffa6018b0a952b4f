// Grouping of the traces' onsets into events.
#ifndef ONSET_DETECT_EVENTS_H
#define ONSET_DETECT_EVENTS_H

#include <string>
#include <vector>

#include "onsets.h"
#include "trace.h"

namespace detect {

struct EventPick {
    size_t trace;
    Microseconds time;
    double strength;
};

struct Event {
    Microseconds earliest;
    int stations;                 // distinct NET.STA among the picks
    std::vector<EventPick> picks; // ascending trace order
};

// Groups the onsets (onsets[i] belongs to traces[i], in time order) into
// captures whose picks lie within `tolerance` seconds of the capture's first
// trace's pick; captures on at least `min_stations` stations are returned as
// events, in time order.
std::vector<Event> group_events(const std::vector<Trace> &traces,
                                const std::vector<std::vector<Onset>> &onsets,
                                double tolerance, int min_stations);

}  // namespace detect

#endif
