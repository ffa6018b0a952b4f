// The S a station missed, looked for where the event's S waves crossed
// the network, and then the P where that S and the origin time put it.
#ifndef ONSET_DETECT_PEER_WINDOWS_H
#define ONSET_DETECT_PEER_WINDOWS_H

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "event_grouping.h"
#include "onset_detect.h"

namespace detect {

// Without coordinates, an event's own S picks are the best prediction of
// where the others are: its S waves cross the network within the span of
// the S picks of its stations. A station with no S in the event (a weak
// one often raised no onset at all, or only its P) looks for it in that
// span, widened by `half` either side and after its own P; a weak S still
// stands out where it is expected. An event needs S picks on two stations
// or more to give such a span. A station that then has its S but no P (in
// a swarm its vertical may still be in the last event's wave train) looks
// for the P within `half` of where the origin time and its S put it: S - P
// grows as vp/vs - 1 times the P's travel time, so the stations with both
// phases give the origin time (their median), and the station's P divides
// its S time after the origin in the ratio of the velocities.
class PeerWindows {
public:
    // picker(channel, phase, from, to, pick): the arrival of `phase` over
    // [from, to) (times) at the station of `channel`, if one stands out.
    using Picker = std::function<bool(int32_t, char, int64_t, int64_t, onset_pick &)>;
    // An event's P picks lie within `reach` after its earliest, and so do
    // those its windows give.
    PeerWindows(int64_t half, int64_t reach, Picker picker) : half_(half), reach_(reach), picker_(std::move(picker)) {}

    // The picking station of each channel, and each channel's place in the
    // order of the ids, in which an event holds its picks.
    void set_channels(std::vector<int32_t> unit, std::vector<int32_t> rank);
    // Takes the grouping's final events and appends to `ready`, in their
    // order, those whose window no sample still to come can change, none
    // still to come holding a pick before `settled`, with the picks their
    // window gave.
    void take(std::deque<Event> &grouped, int64_t settled, std::deque<Event> &ready);
    // The first time the windows of events held or still to come may read.
    int64_t samples_needed_from(int64_t settled) const;

private:
    struct Held {
        Event event;
        int64_t from, to;  // its window; empty when it has none
        int64_t p_to;  // the end of its P picks' span, widened likewise, within reach
        bool has_window() const { return from < to; }
    };
    void pick(Held &held) const;

    int64_t half_, reach_;
    Picker picker_;
    std::vector<int32_t> unit_, rank_;
    size_t units_ = 0;  // picking stations
    std::deque<Held> held_;
};

}  // namespace detect

#endif
