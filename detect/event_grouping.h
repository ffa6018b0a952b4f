// Grouping of the channels' onsets into events, as the onsets become final.
#ifndef ONSET_DETECT_EVENT_GROUPING_H
#define ONSET_DETECT_EVENT_GROUPING_H

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "channel.h"
#include "onset_detect.h"

namespace detect {

struct LocatedOrigin;

struct Event {
    int64_t earliest;
    int32_t stations;
    bool clear;  // one of its P picks stands out by its channel's event_snr
    std::vector<onset_pick> picks;  // in the order of the channels' ids
    std::shared_ptr<LocatedOrigin> origin = nullptr;  // where the detector locates events
};

// Onsets are grouped by the library's `captures` in blocks. A capture's
// picks lie within the tolerance of its seed, so onsets more than twice the
// tolerance apart from all others can be grouped apart: a block ends at
// such a quiet span, and grouping it equals grouping everything at once.
// Where onsets never pause that long (a low threshold, or a very large
// network), a block ends after `dense_span` at its largest gap, so that
// memory stays bounded. Each block's call sees only the channels that have
// onsets in it. A capture on at least min_stations stations, one of whose P
// picks stands out by its channel's event_snr, is an event.
// Only P onsets are grouped; an S onset joins the event that holds the P of
// its station's wave train, so a block waits until its channels' S waves
// can no longer come. The captures then go through merge_later_picks
// against the events up to `train_span` before them, and an event is
// handed out once nothing can join it any more.
class EventGrouping {
public:
    EventGrouping(double tolerance, int32_t min_stations, double train_span);

    // The channels in grouping order (by id), the station (NET.STA) of
    // each and the station that picks it (NET.STA.LOC and band).
    void set_channels(std::vector<int32_t> rank, std::vector<int32_t> station, std::vector<int32_t> unit);

    void add(const std::vector<TimedOnset> &onsets);

    // Groups every block that no onset at or after `horizon` can change and
    // appends its events, in time order, to `events`.
    void group(int64_t horizon, std::deque<Event> &events);

    size_t pending() const { return pending_.size() + s_waves_.size() + held_.size(); }

    // No event still to be handed out holds a P pick before this, given
    // that no onset before `horizon` is still to come.
    int64_t settled(int64_t horizon) const;

private:
    size_t block_end(int64_t horizon) const;
    void group_block(size_t count);
    void release(int64_t horizon, std::deque<Event> &events);

    double tolerance_;
    int64_t quiet_span_;  // microseconds: twice the tolerance
    // A later capture's P joins an event as a late station up to moveout_
    // after its earliest pick, or as a later wave of one of its stations
    // up to later_wave_span_ after that station's P.
    int64_t moveout_, later_wave_span_;
    int64_t dense_span_;
    int64_t train_span_;
    int32_t min_stations_;
    std::vector<int32_t> rank_, station_, unit_;
    std::vector<TimedOnset> pending_;  // P onsets by time, then rank
    std::vector<TimedOnset> s_waves_;  // S onsets not yet joined
    std::deque<Event> held_;           // events that may still gain picks, by earliest
    bool sorted_ = true;
};

}  // namespace detect

#endif
