// Options per station: the engine's against separate runs of the same
// channels with those options, and the command line's settings file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "inputs.h"
#include "network_fixture.h"
#include "options.h"

namespace {

using detect_test::default_network;
using detect_test::default_options;
using detect_test::time_of;

struct Override {
    std::string pattern;
    onset_detect_options options;
};

// The picks of every event by channel id, in time order, from a detector
// over the network's stations `stations` with `overrides` set first.
std::map<std::string, std::vector<onset_pick>> picks_by_channel(const onset_detect_options &options,
                                                                const std::vector<size_t> &stations,
                                                                const std::vector<Override> &overrides)
{
    const auto &network = default_network();
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    for (const Override &o : overrides)
        EXPECT_EQ(onset_detector_station_options(detector, o.pattern.c_str(), &o.options), 0);
    for (const size_t s : stations) {
        const int32_t number = onset_detector_add_channel(detector, network.ids()[s].c_str(), 100.0);
        const std::vector<double> x = network.samples(s, 0, network.length());
        EXPECT_EQ(onset_detector_feed(detector, number, time_of(0), x.data(), x.size()), 0);
    }
    EXPECT_EQ(onset_detector_flush(detector), 0);
    std::vector<detect_test::FoundEvent> events;
    detect_test::take_events(detector, events);
    onset_detector_destroy(detector);
    std::map<std::string, std::vector<onset_pick>> picks;
    for (const auto &event : events)
        for (onset_pick pick : event.picks) {
            const std::string &id = network.ids()[stations[static_cast<size_t>(pick.channel)]];
            pick.channel = 0;
            picks[id].push_back(pick);
        }
    for (auto &[id, list] : picks)
        std::sort(list.begin(), list.end(), [](const onset_pick &a, const onset_pick &b) { return a.time < b.time; });
    return picks;
}

TEST(StationOptions, ChannelsGetTheirStationsOptionsBitForBitAndTheOthersKeepTheirs)
{
    // With one station and an event SNR no above the onset SNR every P makes
    // an event, so every channel's picks show whatever the grouping.
    onset_detect_options base = default_options();
    base.min_stations = 1;
    base.event_snr = 1.0;
    onset_detect_options own = base;
    own.threshold = 5.0;
    own.fmin = 3.0;
    own.kurtosis_window = 1.5;
    own.min_snr = 3.0;
    own.event_snr = 1.5;
    std::vector<size_t> all(default_network().ids().size());
    for (size_t s = 0; s < all.size(); ++s) all[s] = s;

    // S01 and S03 have their own; S02 matches the first pattern too, but the
    // last match wins.
    const auto mixed = picks_by_channel(base, all, {{"XX.S0[1-3]", own}, {"XX.S02", base}});
    const auto plain = picks_by_channel(base, all, {});
    const auto apart = picks_by_channel(own, {0, 2}, {});
    ASSERT_FALSE(apart.empty());
    for (const std::string &id : default_network().ids()) {
        const bool overridden = id == "XX.S01..HHZ" || id == "XX.S03..HHZ";
        const auto &expected = overridden ? apart : plain;
        EXPECT_TRUE(mixed.count(id) == expected.count(id)) << id;
        if (mixed.count(id) && expected.count(id)) {
            EXPECT_TRUE(mixed.at(id) == expected.at(id)) << id;
        }
        if (overridden) {
            EXPECT_FALSE(apart.count(id) && plain.count(id) && apart.at(id) == plain.at(id)) << id;
        }
    }
}

TEST(StationOptions, RefusedAfterTheFirstChannelOrOutOfRangeAndRatesJudgedByTheStationsOwn)
{
    const onset_detect_options base = default_options();
    onset_detect_options wrong = base;
    wrong.threshold = -1.0;
    onset_detector *detector = onset_detector_create(&base, nullptr, 0);
    EXPECT_EQ(onset_detector_station_options(detector, "XX.*", &wrong), ONSET_DETECT_INVALID);
    EXPECT_NE(std::string(onset_detector_message(detector)).find("threshold"), std::string::npos);
    EXPECT_EQ(onset_detector_station_options(detector, "", &base), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_station_options(detector, "XX.*", nullptr), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detector_station_options(nullptr, "XX.*", &base), ONSET_DETECT_INVALID);
    ASSERT_EQ(onset_detector_add_channel(detector, "XX.A..HHZ", 100.0), 0);
    EXPECT_EQ(onset_detector_station_options(detector, "XX.*", &base), ONSET_DETECT_INVALID);
    onset_detector_destroy(detector);

    onset_detect_options wide = base;
    wide.fmax = 45.0;
    onset_run *run = onset_run_create(&base, nullptr, 0.0, nullptr, 0);
    ASSERT_EQ(onset_run_station_options(run, "XX.W*", &wide), 0);
    EXPECT_EQ(onset_run_add_channel(run, "XX.WIDE..HHZ", 80.0), ONSET_DETECT_RATE);
    EXPECT_EQ(onset_run_add_channel(run, "XX.NARROW..HHZ", 80.0), 0);
    EXPECT_STREQ(onset_run_next_warning(run),
                 "XX.WIDE..HHZ left out: fmax 45 Hz is not below its Nyquist frequency 40 Hz");
    onset_run_destroy(run);
}

class SettingsFile : public detect_test::CommandLine {
protected:
    std::string write(const std::string &text) const
    {
        const std::string path = folder_.file("settings.toml");
        std::ofstream(path) << text;
        return path;
    }
    static tool::Options parse(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "onset-detect");
        std::vector<char *> argv;
        for (std::string &a : arguments) argv.push_back(a.data());
        tool::Options options;
        tool::parse_arguments(static_cast<int>(argv.size()), argv.data(), options);
        return options;
    }
};

TEST_F(SettingsFile, FlagsOverTheTopAndStationTablesOverBothInTheFilesOrder)
{
    const std::string path = write("threshold = 4\nfmin = 1.5\nmin_stations = 2\nchunk = 60\n"
                                   "channels = \"XX.*..HHZ\"\n"
                                   "[stations.\"XX.Z*\"]\nthreshold = 6\n"
                                   "[stations.\"XX.A*\"]\nfmin = 3\nvoices = 8\n");
    const tool::Options o = parse({"--config", path, "--threshold", "5", "--chunk=30", "--demo"});
    EXPECT_EQ(o.detector.threshold, 5.0);
    EXPECT_EQ(o.detector.fmin, 1.5);
    EXPECT_EQ(o.detector.min_stations, 2);
    EXPECT_EQ(o.chunk, 30.0);
    EXPECT_EQ(o.channels, "XX.*..HHZ");
    ASSERT_EQ(o.stations.size(), 2u);
    EXPECT_EQ(o.stations[0].pattern, "XX.Z*");
    EXPECT_EQ(o.stations[0].options.threshold, 6.0);
    EXPECT_EQ(o.stations[0].options.fmin, 1.5);
    EXPECT_EQ(o.stations[1].pattern, "XX.A*");
    EXPECT_EQ(o.stations[1].options.threshold, 5.0);
    EXPECT_EQ(o.stations[1].options.fmin, 3.0);
    EXPECT_EQ(o.stations[1].options.voices, 8u);
    EXPECT_EQ(o.stations[1].options.min_stations, 2);
}

TEST_F(SettingsFile, MistakesNameTheFileLineTableAndKeyBeforeAnyDataAreRead)
{
    const std::string path = folder_.file("settings.toml");
    const std::pair<std::string, std::string> cases[] = {
        {"threshold = 4\ntreshold = 5\n", path + ":2: treshold: unknown key"},
        {"threshold = \"high\"\n", path + ":1: threshold: must be a number, got a string"},
        {"\nthreshold = -1\n", path + ":2: threshold: must be above 0, got -1"},
        {"voices = 2.5\n", path + ":1: voices: must be a whole number from 1 to 32"},
        {"chunk = 0\n", path + ":1: chunk: must be above 0"},
        {"[stations.\"XX.S01\"]\ntolerance = 3\n",
         path + ":2: [stations.\"XX.S01\"] tolerance: an option of the whole network"},
        {"[stations.\"XX.S01\"]\nchunk = 3\n", path + ":2: [stations.\"XX.S01\"] chunk: not an option of a station"},
        {"fmax = 10\n[stations.\"XX.S01\"]\nfmin = 12\n",
         path + ": [stations.\"XX.S01\"]: fmin 12 Hz must be below fmax 10 Hz"},
        {"threshold = \n", path + ":1: "},
    };
    for (const auto &[text, said] : cases) {
        write(text);
        expect_refused("--config " + path + " --demo", said);
    }
    expect_refused("--config " + folder_.file("missing.toml") + " --demo", folder_.file("missing.toml"));
}

}  // namespace
