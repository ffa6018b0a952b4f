// The built-in synthetic network and checks of detected events against its
// truth, shared by the detector suites.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "detector.h"
#include "synthetic.h"

namespace detect_test {

// The default run's network: 8 stations, 300 s at 100 Hz.
inline const detect::SyntheticNetwork &default_network()
{
    static const detect::SyntheticNetwork network = detect::make_synthetic(8, 300.0);
    return network;
}

// Every true event is found once, on at least `min_picks` traces, each pick
// within `samples` samples (at 100 Hz) of its station's true arrival; nothing
// else is found. Pick traces index `station_of_trace`.
inline void expect_truth(const std::vector<detect::Event> &events,
                         const detect::SyntheticNetwork &truth,
                         const std::vector<size_t> &station_of_trace, size_t min_picks,
                         int samples = 4)
{
    const detect::Microseconds slack = samples * 10000;
    ASSERT_EQ(events.size(), truth.events.size());
    for (size_t e = 0; e < events.size(); ++e) {
        const auto &arrivals = truth.events[e].arrivals;
        std::string stations;
        for (const detect::EventPick &pick : events[e].picks)
            stations += " " + std::to_string(station_of_trace[pick.trace]);
        EXPECT_GE(events[e].picks.size(), min_picks) << "event " << e << " stations" << stations;
        for (const detect::EventPick &pick : events[e].picks) {
            const size_t station = station_of_trace[pick.trace];
            EXPECT_LE(std::llabs(pick.time - arrivals[station]), slack)
                << "event " << e << " station " << station;
        }
    }
}

inline std::vector<size_t> identity(size_t n)
{
    std::vector<size_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = i;
    return v;
}

}  // namespace detect_test
