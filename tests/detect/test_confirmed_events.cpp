// A group of picks that association leaves out for one wrong pick is
// located from those that agree, and stands where the windows its origin
// predicts find arrivals of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <fstream>
#include <vector>

#include "event_location.h"
#include "stations.h"
#include "synthetic.h"
#include "temp_folder.h"
#include "velocity_model.h"

namespace {

using detect::location::Locator;

constexpr int64_t second = 1'000'000;

class ConfirmedEvents : public ::testing::Test {
protected:
    const tool::SyntheticNetwork network{8, 200.0};
    detect_test::TempFolder folder_;
    const std::string stations = folder_.file("stations.csv"), model = folder_.file("model.csv");
    const tool::SyntheticEvent &truth = network.events().front();

    void SetUp() override
    {
        std::ofstream(stations) << network.stations_csv();
        std::ofstream(model) << tool::SyntheticNetwork::model_csv();
    }

    // The true arrival of `phase` at station `s`.
    int64_t arrival(const Locator &locator, size_t s, char phase) const
    {
        const tool::SyntheticPlace &h = truth.hypocentre;
        const auto epicentre = locator.projection().to_plane(h.latitude, h.longitude);
        return truth.origin +
               std::llround(locator.travel_time(static_cast<int32_t>(s), phase, epicentre, h.depth_km) * second);
    }

    // The events made of one group: P at stations 0-2, S at 0 and 2, and
    // station 2's P two seconds early; the windows give the true arrivals,
    // or none.
    std::deque<detect::Event> located(bool windows_find_arrivals) const
    {
        const Locator locator(detect::location::read_stations(stations),
                              detect::location::read_velocity_model(model, false));
        detect::EventLocation location(stations, model, false, 0.5, 3);
        for (size_t s = 0; s < network.ids().size(); ++s)
            EXPECT_TRUE(location.add_channel(network.ids()[s], static_cast<int32_t>(s)));
        location.pick_in_windows([&](int32_t channel, char phase, int64_t from, int64_t to, onset_pick &pick) {
            const int64_t time = arrival(locator, static_cast<size_t>(channel), phase);
            pick = {channel, phase, time, 0.0, 0.01, 0};
            return windows_find_arrivals && time >= from && time < to;
        });
        detect::Event group{};
        auto add = [&](int32_t s, char phase, int64_t shift) {
            group.picks.push_back({s, phase, arrival(locator, static_cast<size_t>(s), phase) + shift, 5.0, 0.01, 0});
        };
        add(0, 'P', 0), add(1, 'P', 0), add(2, 'P', -2 * second), add(0, 'S', 0), add(2, 'S', 0);
        group.earliest = group.picks[2].time;
        group.stations = 3;
        group.clear = true;
        std::deque<detect::Event> grouped{group}, events;
        location.take(grouped, truth.origin + 600 * second, events);
        return events;
    }
};

TEST_F(ConfirmedEvents, AGroupWithOneWrongPickIsLocatedWhereItsWindowsAgree)
{
    const std::deque<detect::Event> events = located(true);
    ASSERT_EQ(events.size(), 1u);
    const onset_origin &origin = events[0].origin->origin;
    ASSERT_EQ(origin.status, ONSET_ORIGIN_LOCATED);
    EXPECT_LT(std::llabs(origin.time - truth.origin), second / 10);
    EXPECT_NEAR(origin.depth_km, truth.hypocentre.depth_km, 1.0);
    // Station 2's wrong P gave way to the one its window found.
    size_t window_picks = 0;
    for (const onset_pick &pick : events[0].picks) {
        EXPECT_FALSE(pick.channel == 2 && pick.phase == 'P' && pick.strength != 0.0);
        window_picks += pick.strength == 0.0;
    }
    EXPECT_GE(window_picks, 8u);
}

TEST_F(ConfirmedEvents, WindowsThatFindNothingLeaveTheGroupUnlocated)
{
    const std::deque<detect::Event> events = located(false);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].origin->origin.status, ONSET_ORIGIN_TOO_FEW_PHASES);
    EXPECT_EQ(events[0].picks.size(), 5u);
}

}  // namespace
