// Pools of final events, their association and the origins handed out.
#include "event_location.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>
#include <map>
#include <stdexcept>
#include <utility>

#include <omp.h>

#include "association.h"
#include "channel_verdict.h"
#include "failure.h"
#include "same_arrivals.h"
#include "stations.h"
#include "velocity_model.h"

namespace detect {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
// A pick belongs to an origin within this of its predicted P or S.
constexpr double association_tolerance_s = 0.5;
// An event has this many phases that its origin explains: one more than
// the unknowns, so that they must agree.
constexpr size_t association_min_phases = 5;
// A window picked in reaches this far either side of the predicted time.
constexpr double window_half_s = 1.0;
// Two located events are one where their picks coincide, within this, at
// this many stations: the windows of the one found the other's arrivals.
constexpr double same_arrival_s = 0.05;
constexpr size_t same_arrival_stations = 2;

int32_t public_status(location::LocationStatus status)
{
    switch (status) {
    case location::LocationStatus::located: return ONSET_ORIGIN_LOCATED;
    case location::LocationStatus::large_gap: return ONSET_ORIGIN_LARGE_GAP;
    case location::LocationStatus::too_few_phases: break;
    }
    return ONSET_ORIGIN_TOO_FEW_PHASES;
}

onset_origin unlocated_origin()
{
    return {0, nan, nan, nan, nan, nan, nan, nan, 0, ONSET_ORIGIN_TOO_FEW_PHASES, nullptr};
}

// A pick its origin explains: used, and within the tolerance of its phase.
bool explains(const location::PickFit &fit)
{
    return fit.used && std::fabs(fit.residual) <= association_tolerance_s;
}

}  // namespace

// Where a pick of the pool came from: its event and its place there.
struct EventLocation::Source {
    size_t event, pick;
};

EventLocation::EventLocation(const std::string &stations_path, const std::string &model_path, bool graded,
                             double tolerance, int32_t min_stations)
    : stations_path_(stations_path), gap_(std::llround(2.0 * tolerance * 1e6)), min_stations_(min_stations)
{
    try {
        metadata_ = location::read_stations(stations_path);
        model_ = model_path.empty() ? location::default_velocity_model()
                                    : location::read_velocity_model(model_path, graded);
        model_.graded = graded;
    } catch (const std::runtime_error &error) {
        throw Failure{ONSET_DETECT_INVALID, error.what()};
    }
}

EventLocation::~EventLocation() = default;

bool EventLocation::add_channel(const std::string &id, int32_t unit)
{
    ids_.push_back(id);
    unit_of_channel_.push_back(unit);
    site_of_channel_.push_back(location::find_site(metadata_, id));
    return site_of_channel_.back() >= 0;
}

bool EventLocation::places_any() const
{
    return std::any_of(site_of_channel_.begin(), site_of_channel_.end(), [](int site) { return site >= 0; });
}

const location::Locator &EventLocation::locator()
{
    // The sites of the channels declared so far, in the metadata's order,
    // so that the search volume is that of the network recorded; looked at
    // again only once channels came.
    if (locator_ && located_channels_ == site_of_channel_.size()) return *locator_;
    located_channels_ = site_of_channel_.size();
    std::vector<int> sites;
    for (const int site : site_of_channel_)
        if (site >= 0) sites.push_back(site);
    std::sort(sites.begin(), sites.end());
    sites.erase(std::unique(sites.begin(), sites.end()), sites.end());
    if (!locator_ || sites != locator_sites_) {
        std::vector<location::StationSite> chosen;
        for (const int site : sites) chosen.push_back(metadata_[static_cast<size_t>(site)]);
        locator_ = std::make_unique<location::Locator>(std::move(chosen), model_);
        locator_sites_ = std::move(sites);
        window_reach_ = 0;
    }
    return *locator_;
}

int64_t EventLocation::window_reach()
{
    const location::Locator &located_by = locator();
    if (window_reach_ == 0) {
        float latest = 0.0f;
        for (size_t node = 0; node < located_by.node_count(); ++node)
            for (size_t site = 0; site < located_by.sites().size(); ++site)
                latest = std::max(latest, located_by.node_time(node, static_cast<int32_t>(site), 'S'));
        window_reach_ = static_cast<int64_t>(std::ceil(latest * 1e6)) + std::llround(window_half_s * 1e6);
    }
    return window_reach_;
}

int64_t EventLocation::samples_needed_from(int64_t settled)
{
    if (!picker_ || !places_any()) return settled;
    int64_t first = settled;
    for (const Event &event : pool_)
        for (const onset_pick &pick : event.picks) first = std::min(first, pick.time);
    if (first == INT64_MAX) return first;
    const int64_t reach = window_reach();
    return first < INT64_MIN + reach ? INT64_MIN : first - reach;
}

void EventLocation::take(std::deque<Event> &grouped, int64_t settled, std::deque<Event> &events)
{
    for (Event &event : grouped) pool_.push_back(std::move(event));
    grouped.clear();
    std::stable_sort(pool_.begin(), pool_.end(),
                     [](const Event &a, const Event &b) { return a.earliest < b.earliest; });
    // Pools in time order: each ends where no later event starts within the
    // gap of its picks, and is complete once no event still to come can
    // start within it (one handed out already may, where a merge in the
    // grouping moved its earliest pick).
    std::vector<std::pair<size_t, size_t>> pools;  // first event, count
    size_t first = 0;
    while (first < pool_.size()) {
        int64_t end = INT64_MIN;
        size_t count = 0;
        for (; first + count < pool_.size() && (count == 0 || pool_[first + count].earliest <= end + gap_); ++count)
            for (const onset_pick &pick : pool_[first + count].picks) end = std::max(end, pick.time);
        if (end + gap_ >= settled) break;
        // The windows its origins predict lie within reach of its picks;
        // they are read once no sample there can change.
        if (picker_ && end >= settled - window_reach()) break;
        pools.emplace_back(first, count);
        first += count;
    }
    if (pools.empty()) return;
    // Pools are apart: they are located side by side, their events handed
    // out in order. The locator is made before the threads share it.
    locator();
    window_reach();
    std::vector<std::vector<Event>> found(pools.size());
    std::vector<std::exception_ptr> failures(pools.size());
    const auto count = static_cast<int64_t>(pools.size());
#pragma omp parallel for schedule(dynamic, 1) if (count > 1 && !omp_in_parallel())
    for (int64_t p = 0; p < count; ++p) {
        const auto k = static_cast<size_t>(p);
        try {
            found[k] = locate_pool(pools[k].first, pools[k].second);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    }
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);
    for (std::vector<Event> &pool_events : found)
        for (Event &event : pool_events) events.push_back(std::move(event));
    pool_.erase(pool_.begin(), pool_.begin() + static_cast<std::ptrdiff_t>(first));
}

void EventLocation::add_window_picks(const std::map<int, int32_t> &locator_site, int64_t from, int64_t to,
                                     location::Location &located, std::vector<onset_pick> &picks,
                                     std::vector<char> &phases, std::vector<location::PhasePick> &labelled) const
{
    const location::Locator &located_by = *locator_;
    const location::PlanePoint epicentre = located_by.projection().to_plane(located.latitude, located.longitude);
    // The phases each picking station has already, as labelled and as
    // taken here.
    std::map<std::pair<int32_t, char>, bool> has;
    for (size_t k = 0; k < picks.size(); ++k) {
        const int32_t unit = unit_of_channel_[static_cast<size_t>(picks[k].channel)];
        has[{unit, phases[k]}] = has[{unit, static_cast<char>(picks[k].phase)}] = true;
    }
    const int64_t half = std::llround(window_half_s * 1e6), tolerance = std::llround(association_tolerance_s * 1e6);
    bool added = false;
    for (size_t c = 0; c < site_of_channel_.size(); ++c) {
        const auto where = locator_site.find(site_of_channel_[c]);
        if (where == locator_site.end()) continue;
        for (const char phase : {'P', 'S'}) {
            bool &present = has[{unit_of_channel_[c], phase}];
            if (present) continue;
            // Asked once per station, of its first channel.
            present = true;
            const int64_t predicted =
                located.origin_time +
                std::llround(located_by.travel_time(where->second, phase, epicentre, located.depth_km) * 1e6);
            const int64_t begin = std::max(predicted - half, from), end = std::min(predicted + half, to);
            onset_pick pick{};
            if (begin >= end || !picker_(static_cast<int32_t>(c), phase, begin, end, pick) ||
                std::llabs(pick.time - predicted) > tolerance)
                continue;
            picks.push_back(pick);
            phases.push_back(phase);
            labelled.push_back({where->second, pick.time, phase, pick.uncertainty});
            added = true;
        }
    }
    // From an origin on the floor the search starts afresh: the picks the
    // windows gave may show which of the others held it there.
    if (added)
        located = located_by.on_floor(located.depth_km) ? located_by.locate_off_the_floor(labelled)
                                                        : located_by.locate_near(labelled, epicentre, located.depth_km);
}

size_t EventLocation::p_stations_left(size_t e, const std::vector<bool> &taken) const
{
    std::vector<std::string> stations;
    for (size_t k = 0; k < pool_[e].picks.size(); ++k)
        if (!taken[k] && pool_[e].picks[k].phase == 'P')
            stations.push_back(station_of(ids_[static_cast<size_t>(pool_[e].picks[k].channel)]));
    std::sort(stations.begin(), stations.end());
    return static_cast<size_t>(std::unique(stations.begin(), stations.end()) - stations.begin());
}

size_t EventLocation::explaining_stations(const OriginCandidate &candidate, size_t &phases) const
{
    std::vector<int32_t> units;
    phases = 0;
    for (size_t m = 0; m < candidate.picks.size(); ++m) {
        if (!explains(candidate.location.picks[m])) continue;
        ++phases;
        units.push_back(unit_of_channel_[static_cast<size_t>(candidate.picks[m].channel)]);
    }
    std::sort(units.begin(), units.end());
    return static_cast<size_t>(std::unique(units.begin(), units.end()) - units.begin());
}

bool EventLocation::confirmed_in_windows(const std::map<int, int32_t> &locator_site, int64_t from, int64_t to,
                                         size_t e, const std::vector<location::PhasePick> &picks,
                                         std::vector<size_t> &left, const std::vector<Source> &sources,
                                         OriginCandidate &candidate) const
{
    const location::Locator &located_by = *locator_;
    std::vector<location::PhasePick> labelled;
    for (const size_t k : left) labelled.push_back(picks[k]);
    const location::Location first = located_by.locate(labelled);
    if (first.status == location::LocationStatus::too_few_phases) return false;
    // Only the picks its origin explains: one wrong pick is what kept the
    // group from an origin.
    std::vector<size_t> agreeing;
    for (size_t m = 0; m < left.size(); ++m) {
        if (!explains(first.picks[m])) continue;
        agreeing.push_back(left[m]);
        candidate.picks.push_back(pool_[e].picks[sources[left[m]].pick]);
        candidate.phases.push_back(labelled[m].phase);
        candidate.labelled.push_back(labelled[m]);
    }
    left = std::move(agreeing);
    candidate.location = located_by.locate(candidate.labelled);
    size_t phases = 0;
    if (candidate.location.status == location::LocationStatus::too_few_phases ||
        explaining_stations(candidate, phases) < 3)
        return false;
    const size_t own = phases;
    add_window_picks(locator_site, from, to, candidate.location, candidate.picks, candidate.phases,
                     candidate.labelled);
    // As many phases as association asks of an event, some of them the
    // windows' own.
    return candidate.location.status != location::LocationStatus::too_few_phases &&
           explaining_stations(candidate, phases) >= static_cast<size_t>(min_stations_) &&
           phases >= association_min_phases && phases > own;
}

std::vector<Event> EventLocation::locate_pool(size_t first, size_t count) const
{
    const Event *pool = pool_.data() + first;
    const location::Locator &located_by = *locator_;
    std::map<int, int32_t> locator_site;
    for (size_t s = 0; s < locator_sites_.size(); ++s) locator_site[locator_sites_[s]] = static_cast<int32_t>(s);

    // The picks of channels with coordinates, grouped by their events.
    int64_t first_time = INT64_MAX, last_time = INT64_MIN;
    for (size_t e = 0; e < count; ++e)
        for (const onset_pick &pick : pool[e].picks)
            first_time = std::min(first_time, pick.time), last_time = std::max(last_time, pick.time);
    std::vector<location::PhasePick> picks;
    std::vector<Source> sources;
    std::vector<std::vector<size_t>> groups(count);
    for (size_t e = 0; e < count; ++e)
        for (size_t k = 0; k < pool[e].picks.size(); ++k) {
            const onset_pick &pick = pool[e].picks[k];
            const int site = site_of_channel_[static_cast<size_t>(pick.channel)];
            if (site < 0) continue;
            groups[e].push_back(picks.size());
            picks.push_back({locator_site.at(site), pick.time, static_cast<char>(pick.phase), pick.uncertainty});
            sources.push_back({e, k});
        }
    const location::AssociationOptions options{association_tolerance_s, min_stations_,
                                                 static_cast<int32_t>(association_min_phases)};
    const std::vector<location::AssociatedEvent> associated = location::associate_groups(located_by, picks, groups, options);

    std::vector<OriginCandidate> candidates;
    std::vector<std::vector<bool>> taken_picks(count);
    for (size_t e = 0; e < count; ++e) taken_picks[e].assign(pool[e].picks.size(), false);
    for (const location::AssociatedEvent &a : associated) {
        // The picks without coordinates go with the event that took most
        // of their group's other picks.
        std::vector<size_t> taken(count, 0);
        for (const size_t k : a.picks) ++taken[sources[k].event];
        OriginCandidate candidate{{}, a.phases, {}, a.location,
                                  static_cast<size_t>(std::max_element(taken.begin(), taken.end()) - taken.begin())};
        for (size_t m = 0; m < a.picks.size(); ++m) {
            const Source &source = sources[a.picks[m]];
            taken_picks[source.event][source.pick] = true;
            candidate.picks.push_back(pool[source.event].picks[source.pick]);
            candidate.labelled.push_back(picks[a.picks[m]]);
            candidate.labelled.back().phase = candidate.phases[m];
        }
        if (picker_ && candidate.location.status == location::LocationStatus::located)
            add_window_picks(locator_site, first_time - window_reach_, last_time + window_reach_,
                             candidate.location, candidate.picks, candidate.phases, candidate.labelled);
        candidates.push_back(std::move(candidate));
    }
    // A group no origin explained that still makes an event of its own may
    // be an earthquake too weak to raise onsets at enough stations: where
    // its picks that agree locate it, the windows its origin predicts
    // confirm it, or not, with arrivals of their own.
    for (size_t e = 0; picker_ && e < count; ++e) {
        if (p_stations_left(first + e, taken_picks[e]) < static_cast<size_t>(min_stations_)) continue;
        std::vector<size_t> left;
        for (const size_t k : groups[e])
            if (!taken_picks[e][sources[k].pick]) left.push_back(k);
        OriginCandidate candidate{{}, {}, {}, {}, e};
        if (!confirmed_in_windows(locator_site, first_time - window_reach_, last_time + window_reach_, first + e,
                                  picks, left, sources, candidate))
            continue;
        for (const size_t k : left) taken_picks[e][sources[k].pick] = true;
        candidates.push_back(std::move(candidate));
    }
    merge_same_arrivals(candidates, unit_of_channel_, std::llround(same_arrival_s * 1e6), same_arrival_stations,
                        [&located_by](const std::vector<location::PhasePick> &labelled) {
                            return located_by.locate(labelled);
                        });

    std::vector<Event> found;
    std::vector<bool> unplaced_given(count, false);
    for (const OriginCandidate &candidate : candidates) {
        if (candidate.merged) continue;
        const std::vector<onset_pick> &event_picks = candidate.picks;
        const std::vector<char> &phases = candidate.phases;
        const location::Location &l = candidate.location;
        const size_t main = candidate.main;
        auto origin = std::make_shared<LocatedOrigin>();
        Event event{};
        for (size_t m = 0; m < event_picks.size(); ++m) {
            event.picks.push_back(event_picks[m]);
            const location::PickFit &fit = l.picks[m];
            origin->arrivals.push_back({fit.residual, fit.distance_km, fit.azimuth_deg, fit.used ? 1 : 0, phases[m]});
        }
        if (!unplaced_given[main]) {
            unplaced_given[main] = true;
            for (const onset_pick &pick : pool[main].picks)
                if (site_of_channel_[static_cast<size_t>(pick.channel)] < 0) {
                    event.picks.push_back(pick);
                    origin->arrivals.push_back({nan, nan, nan, 0, pick.phase});
                }
        }
        origin->origin = {l.origin_time,
                          l.latitude,
                          l.longitude,
                          l.depth_km,
                          l.horizontal_uncertainty_km,
                          l.depth_uncertainty_km,
                          l.rms_residual_s,
                          l.azimuthal_gap_deg,
                          l.phases_used,
                          public_status(l.status),
                          nullptr};
        event.clear = true;
        event.origin = std::move(origin);
        found.push_back(std::move(event));
    }
    // What no origin took of a group is kept, not located, where its P
    // picks still make an event: too few to locate, or too far off the
    // model for an origin to explain them.
    for (size_t e = 0; e < count; ++e) {
        Event event{};
        std::vector<std::string> stations;
        for (size_t k = 0; k < pool[e].picks.size(); ++k) {
            const onset_pick &pick = pool[e].picks[k];
            const bool unplaced = site_of_channel_[static_cast<size_t>(pick.channel)] < 0;
            if (taken_picks[e][k] || (unplaced && unplaced_given[e])) continue;
            event.picks.push_back(pick);
            if (pick.phase == 'P') stations.push_back(station_of(ids_[static_cast<size_t>(pick.channel)]));
        }
        std::sort(stations.begin(), stations.end());
        if (std::unique(stations.begin(), stations.end()) - stations.begin() < min_stations_) continue;
        auto origin = std::make_shared<LocatedOrigin>();
        origin->origin = unlocated_origin();
        for (const onset_pick &pick : event.picks) origin->arrivals.push_back({nan, nan, nan, 0, pick.phase});
        event.clear = true;
        event.origin = std::move(origin);
        found.push_back(std::move(event));
    }

    for (Event &event : found) {
        // In the order of the channels' ids, as the grouping hands its
        // picks out; an event's earliest pick and stations are those of the
        // picks it takes as P.
        std::vector<size_t> order(event.picks.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const onset_pick &x = event.picks[a], &y = event.picks[b];
            const std::string &u = ids_[static_cast<size_t>(x.channel)], &v = ids_[static_cast<size_t>(y.channel)];
            return u != v ? u < v : x.time < y.time;
        });
        LocatedOrigin &origin = *event.origin;
        std::vector<onset_pick> ordered;
        std::vector<onset_arrival> arrivals;
        std::vector<std::string> stations;
        event.earliest = INT64_MAX;
        for (const size_t k : order) {
            ordered.push_back(event.picks[k]);
            arrivals.push_back(origin.arrivals[k]);
            if (arrivals.back().phase != 'P') continue;
            stations.push_back(station_of(ids_[static_cast<size_t>(ordered.back().channel)]));
            event.earliest = std::min(event.earliest, ordered.back().time);
        }
        if (event.earliest == INT64_MAX)
            for (const onset_pick &pick : ordered) event.earliest = std::min(event.earliest, pick.time);
        std::sort(stations.begin(), stations.end());
        event.stations = static_cast<int32_t>(std::unique(stations.begin(), stations.end()) - stations.begin());
        event.picks = std::move(ordered);
        origin.arrivals = std::move(arrivals);
        origin.origin.arrivals = origin.arrivals.data();
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Event &a, const Event &b) { return a.earliest < b.earliest; });
    return found;
}

}  // namespace detect
