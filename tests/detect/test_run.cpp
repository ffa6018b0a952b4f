// Runs fed by their host: the detector's events, the channels they leave out
// and why, in the words of the warnings; and every entry's refusal of NULL
// handles and outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "network_fixture.h"

namespace {

using detect_test::default_network;
using detect_test::default_options;
using detect_test::time_of;

std::vector<std::string> warnings_of(onset_run *run)
{
    std::vector<std::string> lines;
    while (const char *line = onset_run_next_warning(run)) lines.push_back(line);
    return lines;
}

TEST(DetectRun, HostFedRunFindsTheDetectorsEventsAndSaysWhatItLeftOut)
{
    const auto &network = default_network();
    const onset_detect_options options = default_options();
    onset_run *run = onset_run_create(&options, nullptr, 3600.0, nullptr, 0);
    ASSERT_NE(run, nullptr);
    // A rate the band does not fit, a stretch shorter than the windows, and
    // one of nothing but gaps, among the network's stations.
    EXPECT_EQ(onset_run_add_channel(run, "XX.SLOW..BHZ", 40.0), ONSET_DETECT_RATE);
    const int32_t shorter = onset_run_add_channel(run, "XX.SHORT..HHZ", 100.0);
    const int32_t empty = onset_run_add_channel(run, "XX.EMPTY..HHZ", 100.0);
    std::vector<int32_t> stations;
    for (const std::string &id : network.ids()) stations.push_back(onset_run_add_channel(run, id.c_str(), 100.0));
    std::mt19937 random(5);
    std::normal_distribution<double> normal;
    std::vector<double> noise(201);
    for (double &x : noise) x = normal(random);
    ASSERT_EQ(onset_run_feed(run, shorter, time_of(0), noise.data(), noise.size()), 0);
    const std::vector<double> gaps(500, std::numeric_limits<double>::quiet_NaN());
    ASSERT_EQ(onset_run_feed(run, empty, time_of(0), gaps.data(), gaps.size()), 0);
    for (size_t s = 0; s < stations.size(); ++s) {
        const std::vector<double> x = network.samples(s, 0, network.length());
        ASSERT_EQ(onset_run_feed(run, stations[s], time_of(0), x.data(), x.size()), 0);
    }
    EXPECT_EQ(onset_run_step(run), ONSET_DETECT_INVALID);  // no reader to read
    ASSERT_EQ(onset_run_finish(run), 0);
    ASSERT_EQ(onset_run_finish(run), 0);

    // The detector alone, fed the stations only, finds the same events; the
    // channels' numbers differ by the two left in front of them.
    std::vector<detect_test::FoundEvent> events;
    onset_event event;
    while (onset_run_next_event(run, &event) == 1) {
        events.push_back({event.earliest, event.stations, {event.picks, event.picks + event.pick_count}});
        for (onset_pick &pick : events.back().picks) pick.channel -= 2;
    }
    EXPECT_TRUE(events == detect_test::detect_whole(network, options));

    const std::vector<std::string> expected = {
        "XX.SLOW..BHZ left out: fmax 20 Hz is not below its Nyquist frequency 20 Hz",
        "XX.SHORT..HHZ left out: its longest stretch without gaps has 201 samples (2.01 s), the windows need 202 "
        "(2.02 s)",
        "XX.EMPTY..HHZ left out: all its samples are gaps"};
    EXPECT_EQ(warnings_of(run), expected);
    EXPECT_EQ(onset_run_usable_stations(run), 8);
    EXPECT_STREQ(onset_run_verdict(run, stations[0]), "");
    EXPECT_EQ(std::string(onset_run_verdict(run, empty)), "all its samples are gaps");
    EXPECT_EQ(onset_run_verdict(run, 99), nullptr);
    EXPECT_STREQ(onset_run_channel_id(run, shorter), "XX.SHORT..HHZ");
    EXPECT_EQ(onset_run_channel_id(run, 10), nullptr);
    onset_run_destroy(run);
}

TEST(DetectRun, EveryEntryRefusesNullHandlesAndOutputs)
{
    const onset_detect_options options = default_options();
    char message[64];
    EXPECT_EQ(onset_run_create(nullptr, nullptr, 1.0, message, sizeof message), nullptr);
    EXPECT_EQ(onset_run_step(nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_add_channel(nullptr, "XX.A..HHZ", 100.0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_feed(nullptr, 0, 0, nullptr, 0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_finish(nullptr), ONSET_DETECT_INVALID);
    onset_event event;
    EXPECT_EQ(onset_run_next_event(nullptr, &event), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_next_warning(nullptr), nullptr);
    EXPECT_EQ(onset_run_channel_id(nullptr, 0), nullptr);
    EXPECT_EQ(onset_run_verdict(nullptr, 0), nullptr);
    EXPECT_EQ(onset_run_usable_stations(nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_progress(nullptr, nullptr, nullptr), ONSET_DETECT_INVALID);
    EXPECT_STREQ(onset_run_message(nullptr), "no run");
    onset_run_destroy(nullptr);

    EXPECT_EQ(onset_detector_add_channel(nullptr, "XX.A..HHZ", 100.0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_feed(nullptr, 0, 0, nullptr, 0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_advance(nullptr, 0), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_flush(nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_next_event(nullptr, &event), ONSET_DETECT_INVALID);
    onset_channel_report report;
    EXPECT_EQ(onset_detector_channel_report(nullptr, 0, &report), ONSET_DETECT_INVALID);

    // NULL outputs on a detector that has a channel and an event to give.
    onset_run *run = onset_run_create(&options, nullptr, 1.0, message, sizeof message);
    onset_detector *detector = onset_detector_create(&options, message, sizeof message);
    const auto &network = default_network();
    for (size_t s = 0; s < network.ids().size(); ++s) {
        const std::vector<double> x = network.samples(s, 0, network.length());
        ASSERT_EQ(onset_detector_add_channel(detector, network.ids()[s].c_str(), 100.0), static_cast<int32_t>(s));
        ASSERT_EQ(onset_detector_feed(detector, static_cast<int32_t>(s), time_of(0), x.data(), x.size()), 0);
        ASSERT_EQ(onset_run_add_channel(run, network.ids()[s].c_str(), 100.0), static_cast<int32_t>(s));
        ASSERT_EQ(onset_run_feed(run, static_cast<int32_t>(s), time_of(0), x.data(), x.size()), 0);
    }
    ASSERT_EQ(onset_detector_flush(detector), 0);
    ASSERT_EQ(onset_run_finish(run), 0);
    EXPECT_EQ(onset_detector_channel_report(detector, 0, nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_next_event(detector, nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_next_event(run, nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_run_progress(run, nullptr, nullptr), 0);
    // The refused calls took no event.
    EXPECT_EQ(onset_detector_next_event(detector, &event), 1);
    EXPECT_EQ(onset_run_next_event(run, &event), 1);
    onset_detector_destroy(detector);
    onset_run_destroy(run);
}

}  // namespace
