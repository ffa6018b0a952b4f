// The locator's speed on a synthetic day: 100 stations over 100 km x
// 100 km, events inside with P and S picks on the stations within 60 km,
// noisy, with a few wrong picks. Prints the time to make the tables and
// the median time per event over repeats, and the time to associate the
// same picks as one day: as groups, one per event, as the engine's grouping
// hands them over, and from scratch. Arguments: stations, events, the distance (km) to
// which an event is picked.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "association.h"
#include "locator.h"

using namespace detect::location;

// The machine is shared: processor time, not wall time, is the cost.
static double cpu_seconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + 1e-9 * now.tv_nsec;
}

int main(int argc, char **argv)
{
    const int stations = argc > 1 ? std::atoi(argv[1]) : 100;
    const int events = argc > 2 ? std::atoi(argv[2]) : 1000;
    const double reach_km = argc > 3 ? std::atof(argv[3]) : 60.0; // of an event's picks
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> offset(-50.0, 50.0), elevation(0.0, 2000.0),
        depth(0.0, 25.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    const double latitude = 40.0, km_per_degree = 111.2, cosine = std::cos(latitude * M_PI / 180.0);
    std::vector<StationSite> sites;
    for (int s = 0; s < stations; ++s)
        sites.push_back({"XX", "S" + std::to_string(s), "", "",
                         latitude + offset(random) / km_per_degree,
                         10.0 + offset(random) / (km_per_degree * cosine), elevation(random)});

    double start = cpu_seconds();
    const Locator locator(sites, default_velocity_model());
    const double table_seconds = cpu_seconds() - start;

    std::vector<std::vector<PhasePick>> picks(events);
    std::vector<PlanePoint> truth(events);
    std::vector<double> truth_depth(events);
    size_t phases = 0;
    for (int e = 0; e < events; ++e) {
        truth[e] = {0.8 * offset(random), 0.8 * offset(random)};
        truth_depth[e] = depth(random);
        for (int s = 0; s < stations; ++s) {
            const PlanePoint place = locator.projection().to_plane(sites[s].latitude,
                                                                   sites[s].longitude);
            if (std::hypot(place.east_km - truth[e].east_km, place.north_km - truth[e].north_km) >
                reach_km)
                continue;
            for (const char phase : {'P', 'S'}) {
                double t = locator.travel_time(s, phase, truth[e], truth_depth[e]) + noise(random);
                if (random() % 50 == 0)
                    t += 2.0; // a wrong pick
                picks[e].push_back({s, static_cast<int64_t>(std::llround(t * 1e6)), phase, 0.05});
            }
        }
        phases += picks[e].size();
    }

    // Locating is deterministic: repeats differ only in time.
    std::vector<double> per_event;
    std::vector<double> errors;
    for (int repeat = 0; repeat < 3; ++repeat) {
        start = cpu_seconds();
        for (int e = 0; e < events; ++e) {
            const Location l = locator.locate(picks[e]);
            if (repeat == 0) {
                const PlanePoint found = locator.projection().to_plane(l.latitude, l.longitude);
                errors.push_back(std::hypot(std::hypot(found.east_km - truth[e].east_km,
                                                       found.north_km - truth[e].north_km),
                                            l.depth_km - truth_depth[e]));
            }
        }
        per_event.push_back((cpu_seconds() - start) / events);
    }
    // The same picks as one day, events evenly apart, through association.
    const int64_t day_us = 86400000000;
    std::vector<PhasePick> day;
    for (int e = 0; e < events; ++e)
        for (PhasePick pick : picks[e]) {
            pick.time += day_us / events * e;
            day.push_back(pick);
        }
    std::vector<std::vector<size_t>> groups(static_cast<size_t>(events));
    for (size_t k = 0, e = 0; e < groups.size(); ++e)
        for (size_t m = 0; m < picks[e].size(); ++m) groups[e].push_back(k++);
    start = cpu_seconds();
    const std::vector<AssociatedEvent> grouped = associate_groups(locator, day, groups, AssociationOptions{});
    const double groups_seconds = cpu_seconds() - start;
    start = cpu_seconds();
    const std::vector<AssociatedEvent> associated = associate(locator, day);
    const double association_seconds = cpu_seconds() - start;

    std::sort(per_event.begin(), per_event.end());
    std::sort(errors.begin(), errors.end());
    std::printf("stations %d, events %d, phases per event %.1f\n", stations, events,
                double(phases) / events);
    std::printf("tables: %.3f core-s\n", table_seconds);
    std::printf("locate: median %.3f core-ms per event (of 3 repeats)\n", per_event[1] * 1e3);
    std::printf("hypocentre error: median %.3f km, 90th percentile %.3f km\n",
                errors[errors.size() / 2], errors[errors.size() * 9 / 10]);
    std::printf("association of groups: %zu events from %d, %.3f core-ms per event\n", grouped.size(), events,
                groups_seconds * 1e3 / events);
    std::printf("association from scratch: %zu events from %d, %.3f core-ms per event\n", associated.size(), events,
                association_seconds * 1e3 / events);
    return 0;
}
