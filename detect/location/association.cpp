// Seeds, node votes, location and relabelling.
#include "association.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace detect::location {

namespace {

struct Candidate {
    size_t pick;
    char phase;
};

// The travel times of the coarse grid are those of its nodes; a source
// between nodes arrives up to half a diagonal's worth of time apart. The
// typical change of the S time between neighbouring nodes measures it.
double node_spread(const Locator &locator)
{
    std::vector<double> changes;
    const size_t sites = locator.sites().size();
    for (size_t node = 0; node + 1 < locator.node_count(); node += 7)
        for (size_t site = 0; site < sites; site += std::max<size_t>(1, sites / 16))
            changes.push_back(
                std::fabs(locator.node_time(node + 1, static_cast<int32_t>(site), 'S') -
                          locator.node_time(node, static_cast<int32_t>(site), 'S')));
    if (changes.empty())
        return 0.0;
    std::nth_element(changes.begin(), changes.begin() + changes.size() / 2, changes.end());
    return 0.5 * std::sqrt(3.0) * changes[changes.size() / 2];
}

// The picks among `window` that a hypocentre and origin explain: the
// nearer phase of each within the tolerance, one P and one S per site at
// most (the nearer).
std::vector<Candidate> explained(const Locator &locator, const std::vector<PhasePick> &picks,
                                 const std::vector<size_t> &window, const Location &origin,
                                 double tolerance)
{
    const PlanePoint epicentre = locator.projection().to_plane(origin.latitude, origin.longitude);
    std::vector<Candidate> members;
    std::vector<double> misfits;
    for (const size_t k : window) {
        const PhasePick &pick = picks[k];
        const double after = (pick.time - origin.origin_time) * 1e-6;
        const double p = std::fabs(after -
                                   locator.travel_time(pick.site, 'P', epicentre, origin.depth_km));
        const double s = std::fabs(after -
                                   locator.travel_time(pick.site, 'S', epicentre, origin.depth_km));
        const char phase = p <= s ? 'P' : 'S';
        const double misfit = std::min(p, s);
        if (misfit > tolerance)
            continue;
        bool keep = true;
        for (size_t m = 0; m < members.size() && keep; ++m) {
            if (picks[members[m].pick].site != pick.site || members[m].phase != phase)
                continue;
            keep = misfit < misfits[m];
            if (keep)
                members.erase(members.begin() + m), misfits.erase(misfits.begin() + m);
        }
        if (keep)
            members.push_back({k, phase}), misfits.push_back(misfit);
    }
    return members;
}

// The votes of the picks of a window for one trial origin: each pick near
// an arrival adds the more the nearer it is, the best pick of each site and
// phase alone.
class Ballot {
public:
    explicit Ballot(size_t sites) : vote_(2 * sites), voter_(2 * sites) {}

    // `arrival(site, phase)`: seconds from the origin to the site.
    template <class Arrival>
    double count(const std::vector<PhasePick> &picks, const std::vector<size_t> &window,
                 size_t seed, char seed_phase, double tolerance, Arrival arrival)
    {
        std::fill(vote_.begin(), vote_.end(), 0.0);
        const double origin = picks[seed].time * 1e-6 - arrival(picks[seed].site, seed_phase);
        for (const size_t k : window) {
            const PhasePick &pick = picks[k];
            const double after = pick.time * 1e-6 - origin;
            for (const char phase : {'P', 'S'}) {
                const double weight = 1.0 -
                                      std::fabs(after - arrival(pick.site, phase)) / tolerance;
                const size_t slot = 2 * static_cast<size_t>(pick.site) + (phase == 'S');
                if (weight > vote_[slot])
                    vote_[slot] = weight, voter_[slot] = k;
            }
        }
        double score = 0.0;
        for (const double v : vote_)
            score += v;
        return score;
    }

    std::vector<Candidate> voters() const
    {
        std::vector<Candidate> voters;
        for (size_t slot = 0; slot < vote_.size(); ++slot)
            if (vote_[slot] > 0.0)
                voters.push_back({voter_[slot], slot % 2 ? 'S' : 'P'});
        return voters;
    }

private:
    std::vector<double> vote_;
    std::vector<size_t> voter_;
};

int32_t distinct_stations(const Locator &locator, const std::vector<PhasePick> &picks,
                          const std::vector<Candidate> &members)
{
    std::vector<int32_t> stations;
    for (const Candidate &c : members)
        stations.push_back(locator.station_of(picks[c.pick].site));
    std::sort(stations.begin(), stations.end());
    return static_cast<int32_t>(std::unique(stations.begin(), stations.end()) - stations.begin());
}

// The members located near a hypocentre they were chosen by.
Location locate_members(const Locator &locator, const std::vector<PhasePick> &picks,
                        const std::vector<Candidate> &members, PlanePoint epicentre, double depth)
{
    std::vector<PhasePick> labelled;
    for (const Candidate &c : members) {
        labelled.push_back(picks[c.pick]);
        labelled.back().phase = c.phase;
    }
    return locator.locate_near(labelled, epicentre, depth);
}

// From members located: the picks of `window` that their origin explains,
// located again, until they no longer change. False when they are no event:
// too few phases or stations.
bool converge(const Locator &locator, const std::vector<PhasePick> &picks,
              const std::vector<size_t> &window, const AssociationOptions &options,
              std::vector<Candidate> &members, Location &location)
{
    for (int round = 0; round < 4 && location.status != LocationStatus::too_few_phases; ++round) {
        std::vector<Candidate> next = explained(locator, picks, window, location,
                                                options.tolerance_s);
        const bool same = next.size() == members.size() &&
                          std::equal(next.begin(), next.end(), members.begin(),
                                     [](const Candidate &a, const Candidate &b) {
                                         return a.pick == b.pick && a.phase == b.phase;
                                     });
        members = std::move(next);
        if (same)
            break;
        location = locate_members(
            locator, picks, members,
            locator.projection().to_plane(location.latitude, location.longitude),
            location.depth_km);
    }
    return location.status != LocationStatus::too_few_phases &&
           static_cast<int32_t>(members.size()) >= options.min_phases &&
           distinct_stations(locator, picks, members) >= options.min_stations;
}

// The event the first pick of `window` (its seed) starts, if any: the
// picks one origin explains, the seed among them, on enough stations.
bool event_from(const Locator &locator, const std::vector<PhasePick> &picks,
                const std::vector<size_t> &window, const AssociationOptions &options,
                double node_tolerance, Ballot &ballot, AssociatedEvent &event)
{
    const size_t seed = window.front();
    // Every node of the coarse grid votes with the seed as P and as S;
    // its tolerance covers the spread of times within a cell.
    struct Trial {
        double score;
        size_t node;
        char seed_phase;
    };
    std::vector<Trial> trials;
    for (size_t node = 0; node < locator.node_count(); ++node)
        for (const char seed_phase : {'P', 'S'})
            trials.push_back({ballot.count(picks, window, seed, seed_phase, node_tolerance,
                                           [&](int32_t site, char phase) {
                                               return locator.node_time(node, site, phase);
                                           }),
                              node, seed_phase});
    const size_t leaders = std::min<size_t>(trials.size(), 3);
    std::partial_sort(
        trials.begin(), trials.begin() + leaders, trials.end(), [](const Trial &a, const Trial &b) {
            return a.score > b.score ||
                   (a.score == b.score &&
                    (a.node < b.node || (a.node == b.node && a.seed_phase < b.seed_phase)));
        });
    // Around the leading nodes, a finer grid votes with a tolerance
    // nearer the picks' own: overlapping events come apart there.
    const double fine_step = 0.25 * locator.node_step_km();
    const double fine_tolerance = options.tolerance_s +
                                  0.25 * (node_tolerance - options.tolerance_s);
    double best_score = 0.0, best_depth = 0.0;
    PlanePoint best_place{0.0, 0.0};
    std::vector<Candidate> best;
    for (size_t t = 0; t < leaders; ++t) {
        PlanePoint centre;
        double centre_depth;
        locator.node_place(trials[t].node, centre, centre_depth);
        for (int k = -2; k <= 2; ++k)
            for (int j = -2; j <= 2; ++j)
                for (int i = -2; i <= 2; ++i) {
                    const PlanePoint place{centre.east_km + i * fine_step,
                                           centre.north_km + j * fine_step};
                    const double depth = centre_depth + k * fine_step;
                    const double score = ballot.count(
                        picks, window, seed, trials[t].seed_phase, fine_tolerance,
                        [&](int32_t site, char phase) {
                            return locator.travel_time(site, phase, place, depth);
                        });
                    if (score > best_score) {
                        best_score = score, best = ballot.voters();
                        best_place = place, best_depth = depth;
                    }
                }
    }
    if (distinct_stations(locator, picks, best) < options.min_stations)
        return false;

    std::vector<Candidate> members = best;
    Location location = locate_members(locator, picks, members, best_place, best_depth);
    if (!converge(locator, picks, window, options, members, location))
        return false;
    // The seed must be one of them: an event is found from its first
    // pick, and a seed no origin explains is left out.
    if (std::none_of(members.begin(), members.end(),
                     [&](const Candidate &c) { return c.pick == seed; }))
        return false;

    event = {std::move(location), {}, {}};
    for (const Candidate &c : members)
        event.picks.push_back(c.pick), event.phases.push_back(c.phase);
    return true;
}

} // namespace

std::vector<AssociatedEvent> associate(const Locator &locator, const std::vector<PhasePick> &picks,
                                       const AssociationOptions &options)
{
    std::vector<size_t> order;
    for (size_t k = 0; k < picks.size(); ++k)
        if (picks[k].site >= 0 && picks[k].site < static_cast<int32_t>(locator.sites().size()))
            order.push_back(k);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return picks[a].time < picks[b].time; });

    // No arrival of an event comes later after its first than the slowest
    // S wave across the volume.
    float span = 0.0f;
    for (size_t node = 0; node < locator.node_count(); ++node)
        for (size_t site = 0; site < locator.sites().size(); ++site)
            span = std::max(span, locator.node_time(node, static_cast<int32_t>(site), 'S'));
    const int64_t span_us = static_cast<int64_t>(std::ceil(span * 1e6)) +
                            std::llround(options.tolerance_s * 1e6);
    const double node_tolerance = options.tolerance_s + node_spread(locator);

    std::vector<bool> taken(picks.size(), false);
    std::vector<AssociatedEvent> events;
    Ballot ballot(locator.sites().size());
    for (size_t o = 0; o < order.size(); ++o) {
        if (taken[order[o]])
            continue;
        std::vector<size_t> window;
        for (size_t w = o;
             w < order.size() && picks[order[w]].time - picks[order[o]].time <= span_us; ++w)
            if (!taken[order[w]])
                window.push_back(order[w]);
        AssociatedEvent event;
        if (!event_from(locator, picks, window, options, node_tolerance, ballot, event))
            continue;
        // A seed that no event holds (a noise pick) may still fit a blend of
        // the picks of events nearby. The event its next pick starts without
        // it then holds more picks: the seed is left out, and that event is
        // found from its own first pick.
        const size_t next = event.picks[event.picks[0] == order[o] ? 1 : 0];
        std::vector<size_t> rest(std::find(window.begin(), window.end(), next), window.end());
        AssociatedEvent without;
        if (event_from(locator, picks, rest, options, node_tolerance, ballot, without) &&
            without.picks.size() > event.picks.size())
            continue;
        for (const size_t k : event.picks)
            taken[k] = true;
        events.push_back(std::move(event));
    }
    return events;
}

namespace {

// The P picks a group's first location takes at most.
constexpr size_t seed_picks = 15;

// The earliest of a group's P picks, those of the nearest stations: they
// place it well enough for the search near it with all the picks it
// explains, and the wide search then costs the same in a network of any
// size.
std::pair<std::vector<Candidate>, std::vector<PhasePick>>
earliest_first_arrivals(const std::vector<Candidate> &first_arrivals, const std::vector<PhasePick> &p_picks)
{
    std::vector<size_t> order(first_arrivals.size());
    for (size_t m = 0; m < order.size(); ++m)
        order[m] = m;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return p_picks[a].time < p_picks[b].time ||
               (p_picks[a].time == p_picks[b].time && first_arrivals[a].pick < first_arrivals[b].pick);
    });
    order.resize(std::min(order.size(), seed_picks));
    std::pair<std::vector<Candidate>, std::vector<PhasePick>> seeds;
    for (const size_t m : order)
        seeds.first.push_back(first_arrivals[m]), seeds.second.push_back(p_picks[m]);
    return seeds;
}


// How well an origin's members fit a group of picks.
struct GroupFit {
    bool splits;       // the group's P it leaves out are on enough stations for an event
    size_t explained;  // of the group's picks
    size_t size;       // of the group
    double rms_s;

    bool better_than(const GroupFit &other) const
    {
        if (splits != other.splits)
            return !splits;
        if (explained != other.explained)
            return explained > other.explained;
        return rms_s < other.rms_s;
    }
};

GroupFit group_fit(const Locator &locator, const std::vector<PhasePick> &picks,
                   const std::vector<Candidate> &group, const std::vector<Candidate> &members,
                   const Location &location, const AssociationOptions &options)
{
    std::vector<Candidate> p_left;
    size_t explained = 0;
    for (const Candidate &c : group) {
        const bool taken = std::any_of(members.begin(), members.end(),
                                       [&](const Candidate &m) { return m.pick == c.pick; });
        explained += taken;
        if (!taken && c.phase == 'P')
            p_left.push_back(c);
    }
    return {distinct_stations(locator, picks, p_left) >= options.min_stations, explained, group.size(),
            location.rms_residual_s};
}

} // namespace

std::vector<AssociatedEvent> associate_groups(const Locator &locator,
                                              const std::vector<PhasePick> &picks,
                                              const std::vector<std::vector<size_t>> &groups,
                                              const AssociationOptions &options)
{
    const auto sites = static_cast<int32_t>(locator.sites().size());
    std::vector<bool> taken(picks.size(), false);
    // The picks no event has taken yet, by time.
    const auto free_picks = [&] {
        std::vector<size_t> free;
        for (size_t k = 0; k < picks.size(); ++k)
            if (!taken[k] && picks[k].site >= 0 && picks[k].site < sites)
                free.push_back(k);
        std::stable_sort(free.begin(), free.end(),
                         [&](size_t a, size_t b) { return picks[a].time < picks[b].time; });
        return free;
    };
    std::vector<AssociatedEvent> events;
    for (const std::vector<size_t> &group : groups) {
        std::vector<Candidate> members;
        std::vector<PhasePick> labelled;
        for (const size_t k : group)
            if (!taken[k] && picks[k].site >= 0 && picks[k].site < sites) {
                members.push_back({k, static_cast<char>(picks[k].phase)});
                labelled.push_back(picks[k]);
            }
        if (static_cast<int32_t>(members.size()) < options.min_phases ||
            distinct_stations(locator, picks, members) < options.min_stations)
            continue;
        // The P picks alone first where they fix a hypocentre: a group may
        // have taken the arrivals of the next event as its S waves. Where a
        // wrong P among them (an S, or noise before a weak P) misleads them,
        // all its picks with their labels may do better: the attempt that
        // leaves too few of the group's P for an event of their own, then
        // explains more of its picks, then fits them better, stands.
        std::vector<Candidate> first_arrivals;
        std::vector<PhasePick> p_picks;
        for (size_t m = 0; m < members.size(); ++m)
            if (members[m].phase == 'P')
                first_arrivals.push_back(members[m]), p_picks.push_back(labelled[m]);
        const bool p_alone = static_cast<int32_t>(p_picks.size()) >= options.min_phases - 1 &&
                             distinct_stations(locator, picks, first_arrivals) >= options.min_stations;
        std::vector<std::pair<std::vector<Candidate>, std::vector<PhasePick>>> attempts;
        if (p_alone)
            attempts.push_back(earliest_first_arrivals(first_arrivals, p_picks));
        const std::vector<Candidate> group_members = members;
        attempts.emplace_back(std::move(members), std::move(labelled));
        bool found = false;
        GroupFit best{};
        Location location{};
        for (auto &[attempt_members, attempt_picks] : attempts) {
            Location attempt = locator.locate(attempt_picks);
            if (!converge(locator, picks, free_picks(), options, attempt_members, attempt))
                continue;
            const GroupFit fit = group_fit(locator, picks, group_members, attempt_members, attempt, options);
            if (!found || fit.better_than(best))
                found = true, best = fit, members = std::move(attempt_members), location = std::move(attempt);
            // Noise picks a group took are left out by any origin: only a
            // first attempt that leaves several out may have been misled.
            if (best.explained + 1 >= best.size)
                break;
        }
        if (!found)
            continue;
        AssociatedEvent event{std::move(location), {}, {}};
        for (const Candidate &c : members) {
            event.picks.push_back(c.pick), event.phases.push_back(c.phase);
            taken[c.pick] = true;
        }
        events.push_back(std::move(event));
    }
    const std::vector<size_t> rest = free_picks();
    if (static_cast<int32_t>(rest.size()) >= options.min_phases) {
        std::vector<PhasePick> left;
        for (const size_t k : rest)
            left.push_back(picks[k]);
        for (AssociatedEvent &event : associate(locator, left, options)) {
            for (size_t &k : event.picks)
                k = rest[k];
            events.push_back(std::move(event));
        }
    }
    // Origins closer in time than twice the tolerance are one event found
    // twice (from a group and from its late arrivals that it did not
    // explain, say): the one that fits its picks best stands.
    std::vector<size_t> order(events.size());
    for (size_t e = 0; e < order.size(); ++e)
        order[e] = e;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return events[a].location.rms_residual_s < events[b].location.rms_residual_s;
    });
    std::vector<bool> kept(events.size(), false);
    const int64_t apart_us = std::llround(2.0 * options.tolerance_s * 1e6);
    for (const size_t e : order)
        kept[e] = std::none_of(order.begin(), order.end(), [&](size_t other) {
            return kept[other] &&
                   std::llabs(events[other].location.origin_time - events[e].location.origin_time) <
                       apart_us;
        });
    std::vector<AssociatedEvent> distinct;
    for (size_t e = 0; e < events.size(); ++e)
        if (kept[e])
            distinct.push_back(std::move(events[e]));
    return distinct;
}

} // namespace detect::location
