// Located events that found the same arrivals become one.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "same_arrivals.h"

namespace {

using detect::OriginCandidate;

constexpr int64_t second = 1'000'000;

// A located candidate with picks (channel, phase, time in s).
OriginCandidate candidate(const std::vector<std::tuple<int32_t, char, double>> &picks)
{
    OriginCandidate c{};
    c.location.status = detect::location::LocationStatus::located;
    for (const auto &[channel, phase, seconds] : picks) {
        const auto time = static_cast<int64_t>(seconds * second);
        c.picks.push_back({channel, phase, time, 1.0, 0.01, 0});
        c.phases.push_back(phase);
        c.labelled.push_back({channel, time, phase, 0.01});
    }
    return c;
}

TEST(DetectSameArrivals, EventsThatShareArrivalsAtTwoStationsAreOne)
{
    // Channels 0-2 are one station, 3 and 4 two more.
    const std::vector<int32_t> unit{0, 0, 0, 1, 2};
    size_t located = 0;
    std::vector<detect::location::PhasePick> given;
    auto locate = [&](const std::vector<detect::location::PhasePick> &picks) {
        ++located;
        given = picks;
        detect::location::Location l{};
        l.status = detect::location::LocationStatus::located;
        return l;
    };
    // The second shares the first's P at stations 0 and 1 (0.02 s apart,
    // the first on another component) and brings station 2's P and 0's S;
    // its P at 1 of another time gives way.
    std::vector<OriginCandidate> split{candidate({{0, 'P', 10.0}, {3, 'P', 11.0}}),
                                       candidate({{2, 'P', 10.02}, {3, 'P', 11.0}, {4, 'P', 11.5}, {1, 'S', 12.0}})};
    detect::merge_same_arrivals(split, unit, 50000, 2, locate);
    EXPECT_FALSE(split[0].merged);
    EXPECT_TRUE(split[1].merged);
    EXPECT_EQ(located, 1u);
    ASSERT_EQ(split[0].picks.size(), 4u);
    EXPECT_EQ(given.size(), 4u);
    EXPECT_EQ(split[0].picks[2].channel, 4);
    EXPECT_EQ(split[0].phases[3], 'S');

    // One station in common, arrivals 0.1 s apart, another phase, or an
    // origin not located: two events.
    for (auto pair : {std::vector<OriginCandidate>{candidate({{0, 'P', 10.0}, {3, 'P', 11.0}}),
                                                  candidate({{0, 'P', 10.0}, {3, 'P', 11.1}})},
                      std::vector<OriginCandidate>{candidate({{0, 'P', 10.0}, {3, 'P', 11.0}}),
                                                  candidate({{0, 'S', 10.0}, {3, 'P', 11.0}})}}) {
        detect::merge_same_arrivals(pair, unit, 50000, 2, locate);
        EXPECT_FALSE(pair[1].merged);
    }
    std::vector<OriginCandidate> unlocated{candidate({{0, 'P', 10.0}, {3, 'P', 11.0}}),
                                           candidate({{0, 'P', 10.0}, {3, 'P', 11.0}})};
    unlocated[0].location.status = detect::location::LocationStatus::too_few_phases;
    detect::merge_same_arrivals(unlocated, unit, 50000, 2, locate);
    EXPECT_FALSE(unlocated[1].merged);
    EXPECT_EQ(located, 1u);
}

}  // namespace
