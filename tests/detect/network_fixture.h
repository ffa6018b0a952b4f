// The built-in synthetic network run through the engine's C interface, and
// checks of the events found against its truth, shared by the detector
// suites.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "onset_detect.h"
#include "synthetic.h"

// Picks are equal when every field is, the strength bit for bit.
inline bool operator==(const onset_pick &a, const onset_pick &b)
{
    return a.channel == b.channel && a.phase == b.phase && a.time == b.time &&
           std::memcmp(&a.strength, &b.strength, sizeof(double)) == 0 &&
           std::memcmp(&a.uncertainty, &b.uncertainty, sizeof(double)) == 0 && a.polarity == b.polarity;
}

namespace detect_test {

// The default run's network: 8 stations, 300 s at 100 Hz.
inline const tool::SyntheticNetwork &default_network()
{
    static const tool::SyntheticNetwork network(8, 300.0);
    return network;
}

inline int64_t time_of(int64_t index) { return tool::SyntheticNetwork::start + index * 10000; }

struct FoundEvent {
    int64_t earliest;
    int32_t stations;
    std::vector<onset_pick> picks;
};

inline bool operator==(const FoundEvent &a, const FoundEvent &b)
{
    return a.earliest == b.earliest && a.stations == b.stations && a.picks == b.picks;
}

// Takes every final event out of the detector.
inline void take_events(onset_detector *detector, std::vector<FoundEvent> &events)
{
    onset_event event;
    while (onset_detector_next_event(detector, &event) == 1)
        events.push_back({event.earliest, event.stations, {event.picks, event.picks + event.pick_count}});
}

// Station s's samples, as the host hands them over: `feed(station, first
// index, samples)` decides how they are cut. Returns the events found.
using Feeding = std::function<void(onset_detector *, size_t, const std::vector<double> &)>;

inline std::vector<FoundEvent> detect(const tool::SyntheticNetwork &network, const onset_detect_options &options,
                                      const Feeding &feeding)
{
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    EXPECT_NE(detector, nullptr);
    for (const std::string &id : network.ids()) EXPECT_GE(onset_detector_add_channel(detector, id.c_str(), 100.0), 0);
    for (size_t s = 0; s < network.ids().size(); ++s) feeding(detector, s, network.samples(s, 0, network.length()));
    EXPECT_EQ(onset_detector_flush(detector), 0);
    std::vector<FoundEvent> events;
    take_events(detector, events);
    onset_detector_destroy(detector);
    return events;
}

inline onset_detect_options default_options()
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    return options;
}

// Whole traces, one call per station.
inline std::vector<FoundEvent> detect_whole(const tool::SyntheticNetwork &network, const onset_detect_options &options)
{
    return detect(network, options, [](onset_detector *d, size_t s, const std::vector<double> &x) {
        EXPECT_EQ(onset_detector_feed(d, static_cast<int32_t>(s), time_of(0), x.data(), x.size()), 0);
    });
}

// Every true event is found once, with P picks on at least `min_picks`
// channels, each within `samples` samples (at 100 Hz) of its station's true
// arrival; nothing else is found. Channel i is station station_of[i].
inline void expect_truth(const std::vector<FoundEvent> &events, const tool::SyntheticNetwork &truth,
                         size_t min_picks, int samples = 8, std::vector<size_t> station_of = {})
{
    if (station_of.empty())
        for (size_t i = 0; i < truth.ids().size(); ++i) station_of.push_back(i);
    ASSERT_EQ(events.size(), truth.events().size());
    for (size_t e = 0; e < events.size(); ++e) {
        size_t p_picks = 0;
        for (const onset_pick &pick : events[e].picks) p_picks += pick.phase == 'P';
        EXPECT_GE(p_picks, min_picks) << "event " << e;
        for (const onset_pick &pick : events[e].picks) {
            if (pick.phase != 'P') continue;
            const size_t station = station_of[static_cast<size_t>(pick.channel)];
            EXPECT_LE(std::llabs(pick.time - truth.events()[e].arrivals[station]), samples * 10000)
                << "event " << e << " station " << station;
        }
    }
}

}  // namespace detect_test
