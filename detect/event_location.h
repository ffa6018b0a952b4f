// Located events: the grouping's final events, pooled where their picks
// meet, associated again by travel time and located.
#ifndef ONSET_DETECT_EVENT_LOCATION_H
#define ONSET_DETECT_EVENT_LOCATION_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "event_grouping.h"
#include "locator.h"
#include "onset_detect.h"
#include "same_arrivals.h"

namespace detect {

// An event's origin as the C interface hands it out, with one arrival per
// pick of the event.
struct LocatedOrigin {
    onset_origin origin;
    std::vector<onset_arrival> arrivals;
};

// The grouping keeps late stations and S waves within a tolerance of an
// event; here events whose picks come within twice the tolerance of one
// another are taken together (so that an event the grouping split, or two
// it merged, come out as their origins explain their picks), once no event
// still to come can join them. Picks of a channel without coordinates stay
// with the event that took most of their group's other picks. What no
// origin explains of a group stays an event where its P picks are still on
// min_stations stations (located from its picks that agree where its
// windows confirm it, else not located); other picks no origin explains are
// dropped. A located event then looks for the P and S its stations lack in
// the windows its origin predicts, within the tolerance of the prediction,
// and is located again with what they give: a weak arrival that raised no
// onset of its own still stands out where it is expected. Two located
// events whose windows found each other's arrivals are then one
// (merge_same_arrivals). Pools apart are located side by side.
class EventLocation {
public:
    // Station metadata (StationXML or CSV) and a velocity model (CSV; the
    // default model when the path is empty). Throws Failure naming the
    // file, the line or element and what is wrong.
    EventLocation(const std::string &stations_path, const std::string &model_path, bool graded,
                  double tolerance, int32_t min_stations);
    ~EventLocation();

    // Declares channel `number` (the next one) of picking station `unit`;
    // false when the metadata do not place it.
    bool add_channel(const std::string &id, int32_t unit);
    // picker(channel, phase, from, to, pick): the pick of `phase` over
    // [from, to) (times) at the station of `channel`, if one stands out.
    using WindowPicker = std::function<bool(int32_t, char, int64_t, int64_t, onset_pick &)>;
    void pick_in_windows(WindowPicker picker) { picker_ = std::move(picker); }
    // The first time the windows of events still to come may read, given
    // that none holds a pick before `settled`.
    int64_t samples_needed_from(int64_t settled);
    bool placed(int32_t channel) const { return site_of_channel_.at(static_cast<size_t>(channel)) >= 0; }
    bool places_any() const;
    const std::string &stations_path() const { return stations_path_; }

    // Takes the grouping's final events and appends to `events`, in time
    // order, the located events of every pool that no event still to come
    // can join: none will hold a pick before `settled`.
    void take(std::deque<Event> &grouped, int64_t settled, std::deque<Event> &events);

private:
    // The located events of the pool of `count` events from pool_[first].
    std::vector<Event> locate_pool(size_t first, size_t count) const;
    const location::Locator &locator();
    // The longest an arrival comes after its origin, plus a window's half.
    int64_t window_reach();
    // Adds to an event's picks (and their labelled copies) those its
    // windows give, within [from, to), and locates it again with them.
    void add_window_picks(const std::map<int, int32_t> &locator_site, int64_t from, int64_t to,
                          location::Location &located, std::vector<onset_pick> &picks,
                          std::vector<char> &phases, std::vector<location::PhasePick> &labelled) const;

    struct Source;
    // Pool event e's P picks that no origin took, by station.
    size_t p_stations_left(size_t e, const std::vector<bool> &taken) const;
    // The stations and phases (into `phases`) whose picks a candidate's
    // origin explains within the tolerance.
    size_t explaining_stations(const OriginCandidate &candidate, size_t &phases) const;
    // Whether the picks `left` (into `picks`) of pool event `e` that agree
    // locate an event that its windows confirm: `candidate` then holds it,
    // and `left` the picks of the group it took.
    bool confirmed_in_windows(const std::map<int, int32_t> &locator_site, int64_t from, int64_t to, size_t e,
                              const std::vector<location::PhasePick> &picks, std::vector<size_t> &left,
                              const std::vector<Source> &sources, OriginCandidate &candidate) const;

    std::string stations_path_;
    std::vector<location::StationSite> metadata_;
    location::VelocityModel model_;
    int64_t gap_;
    int32_t min_stations_;
    std::vector<std::string> ids_;        // by channel number
    std::vector<int> site_of_channel_;    // in metadata_, -1 for none
    std::vector<int32_t> unit_of_channel_;
    WindowPicker picker_;
    int64_t window_reach_ = 0;            // of the locator below
    std::vector<int> locator_sites_;      // in metadata_, the locator's sites in order
    std::unique_ptr<location::Locator> locator_;
    size_t located_channels_ = 0;         // channels declared when its sites were last read
    std::vector<Event> pool_;             // by earliest pick
};

}  // namespace detect

#endif
