// Located events: the synthetic network's hypocentres found again through
// the engine, the same whatever the chunks and threads, and through the
// command line; station and model files that cannot be used are refused
// before any data are read.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "command_fixture.h"
#include "engine.h"
#include "synthetic.h"

namespace {

using tool::SyntheticNetwork;

void write_file(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

double distance_km(double lat1, double lon1, double lat2, double lon2)
{
    const double degree = M_PI / 180.0;
    const double a = std::pow(std::sin(0.5 * (lat2 - lat1) * degree), 2) +
                     std::cos(lat1 * degree) * std::cos(lat2 * degree) * std::pow(std::sin(0.5 * (lon2 - lon1) * degree), 2);
    return 2.0 * 6371.0 * std::asin(std::sqrt(a));
}

class LocatedEvents : public detect_test::CommandLine {
protected:
    const SyntheticNetwork network{8, 1200.0};
    std::string stations = folder_.file("stations.csv"), model = folder_.file("model.csv");

    void SetUp() override
    {
        write_file(stations, network.stations_csv());
        write_file(model, SyntheticNetwork::model_csv());
    }

    // The network through the engine, `chunk` seconds at a time.
    std::vector<tool::Event> detect(double chunk, double threshold = 0.0) const
    {
        onset_detect_options options;
        onset_detect_defaults(&options);
        if (threshold > 0.0) options.threshold = threshold;
        tool::Engine engine(options, {}, {stations, model, false});
        for (const std::string &id : network.ids()) {
            std::string problem;
            EXPECT_GE(engine.add(id, SyntheticNetwork::rate, problem), 0) << problem;
        }
        std::vector<tool::Event> events;
        const auto step = static_cast<int64_t>(chunk * SyntheticNetwork::rate);
        for (int64_t first = 0; first < network.length(); first += step) {
            const int64_t time = SyntheticNetwork::start + first * 10000;
            for (size_t s = 0; s < network.ids().size(); ++s) {
                const std::vector<double> samples = network.samples(s, first, step);
                engine.feed(static_cast<int32_t>(s), time, samples.data(), samples.size());
            }
            engine.advance(time + step * 10000);
            for (tool::Event &event : engine.take()) events.push_back(std::move(event));
        }
        engine.flush();
        for (tool::Event &event : engine.take()) events.push_back(std::move(event));
        return events;
    }
};

TEST_F(LocatedEvents, HypocentresOfTheSyntheticNetwork)
{
    const std::vector<tool::Event> events = detect(600.0);
    std::vector<double> errors;
    size_t poor = 0, arrivals = 0, relabelled = 0;
    for (const tool::SyntheticEvent &truth : network.events()) {
        const auto found = std::find_if(events.begin(), events.end(), [&](const tool::Event &e) {
            return e.located && std::llabs(e.origin.time - truth.origin) < 500000;
        });
        ASSERT_NE(found, events.end()) << "event at " << truth.origin;
        const onset_origin &o = found->origin;
        EXPECT_EQ(o.status, ONSET_ORIGIN_LOCATED);
        const tool::SyntheticPlace &h = truth.hypocentre;
        errors.push_back(std::hypot(distance_km(o.latitude, o.longitude, h.latitude, h.longitude), o.depth_km - h.depth_km));
        // A pick the picker labelled wrongly can pull a small event off.
        poor += errors.back() > 1.0 || std::llabs(o.time - truth.origin) > 100000;
        // Arrivals: one per pick, at the distance of its station from the origin.
        ASSERT_EQ(found->arrivals.size(), found->picks.size());
        for (size_t k = 0; k < found->picks.size(); ++k) {
            const onset_arrival &a = found->arrivals[k];
            const tool::SyntheticPlace &site = network.sites()[static_cast<size_t>(found->picks[k].channel)];
            EXPECT_NEAR(a.distance_km, distance_km(o.latitude, o.longitude, site.latitude, site.longitude), 0.01);
            EXPECT_LT(std::fabs(a.residual), 0.5);
            ++arrivals;
            relabelled += a.phase != found->picks[k].phase;
        }
    }
    EXPECT_LE(poor, network.events().size() / 10);
    EXPECT_LE(relabelled, arrivals / 50);
    EXPECT_EQ(events.size(), network.events().size());
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LE(errors[errors.size() / 2], 0.5);
}

TEST_F(LocatedEvents, StationsWithoutAnOnsetArePickedWhereTheOriginPredicts)
{
    // A threshold few stations reach: the others get their P from the
    // window the origin predicts (strength 0), at the true arrival.
    size_t window_picks = 0, sharp = 0;
    for (const tool::Event &event : detect(600.0, 25.0)) {
        if (!event.located) continue;
        for (const onset_pick &pick : event.picks) {
            if (pick.phase != 'P' || pick.strength != 0.0) continue;
            const auto station = static_cast<size_t>(pick.channel);
            int64_t nearest = INT64_MAX;
            for (const tool::SyntheticEvent &truth : network.events())
                nearest = std::min<int64_t>(nearest, std::llabs(truth.arrivals[station] - pick.time));
            EXPECT_LE(nearest, 200000) << network.ids()[station] << " at " << pick.time;
            ++window_picks;
            sharp += nearest <= 50000;
        }
    }
    EXPECT_GE(window_picks, 20u);
    EXPECT_GE(sharp, window_picks * 9 / 10);
}

TEST_F(LocatedEvents, TheSameWhateverTheChunksAndThreads)
{
    const auto bits = [](const std::vector<tool::Event> &events) {
        std::string text;
        for (const tool::Event &e : events) {
            text.append(reinterpret_cast<const char *>(&e.origin), offsetof(onset_origin, arrivals));
            for (const onset_arrival &a : e.arrivals)
                text.append(reinterpret_cast<const char *>(&a), offsetof(onset_arrival, phase) + sizeof a.phase);
        }
        return text;
    };
    const std::string standard = bits(detect(600.0));
    EXPECT_EQ(bits(detect(37.0)), standard);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    EXPECT_EQ(bits(detect(250.0)), standard);
    omp_set_num_threads(threads);
    // Picks in the windows origins predict too.
    EXPECT_EQ(bits(detect(37.0, 25.0)), bits(detect(600.0, 25.0)));
}

TEST_F(LocatedEvents, TheCommandLineLocatesAsTheEngine)
{
    const std::string archive = folder_.file("sds");
    ASSERT_EQ(run("--write-synthetic " + archive + " --synthetic-duration 1200").status, 0);
    const auto r = run("--sds " + archive + " --stations " + stations + " --velocity-model " + model + " --origins " +
                       folder_.file("origins.csv") + " --quakeml " + folder_.file("events.xml"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<tool::Event> events = detect(600.0);
    const std::string origins = detect_test::slurp(folder_.file("origins.csv"));
    EXPECT_EQ(detect_test::count_lines(origins), events.size() + 1);
    EXPECT_EQ(detect_test::count_text_events(r.out), events.size());
    for (size_t e = 0; e < events.size(); ++e) {
        char row[128];
        std::snprintf(row, sizeof row, "\n%zu,%s,%.6f,%.6f,%.3f,", e + 1, tool::iso_time(events[e].origin.time).c_str(),
                      events[e].origin.latitude, events[e].origin.longitude, events[e].origin.depth_km);
        EXPECT_NE(origins.find(row), std::string::npos) << row << origins;
    }
    const std::string xml = detect_test::slurp(folder_.file("events.xml"));
    size_t preferred = 0, arrivals = 0;
    for (size_t at = xml.find("<preferredOriginID>"); at != std::string::npos; at = xml.find("<preferredOriginID>", at + 1))
        ++preferred;
    for (size_t at = xml.find("<arrival "); at != std::string::npos; at = xml.find("<arrival ", at + 1)) ++arrivals;
    EXPECT_EQ(preferred, events.size());
    size_t picks = 0;
    for (const tool::Event &event : events) picks += event.picks.size();
    EXPECT_EQ(arrivals, picks);
    EXPECT_NE(r.out.find("  origin 2024-01-01T"), std::string::npos) << r.out;
}

TEST_F(LocatedEvents, FilesThatCannotBeUsedAreRefused)
{
    const std::string demo = "--demo --stations ";
    expect_refused(demo + folder_.file("none.csv"), folder_.file("none.csv") + ": cannot be read");
    const std::string csv = folder_.file("far.csv");
    write_file(csv, "network,station,latitude,longitude,elevation_m\nXX,S01,46.0,7.0,0\nXX,S02,200,7.0,0\n");
    expect_refused(demo + csv, csv + ":3: latitude 200");
    const std::string xml = folder_.file("far.xml");
    write_file(xml, "<?xml version=\"1.0\"?>\n<FDSNStationXML>\n <Network code=\"XX\">\n  <Station code=\"S01\">\n"
                    "   <Latitude>200</Latitude>\n   <Longitude>7</Longitude>\n   <Elevation>0</Elevation>\n"
                    "  </Station>\n </Network>\n</FDSNStationXML>\n");
    expect_refused(demo + xml, xml + ":4: FDSNStationXML/Network XX/Station S01: latitude 200");
    const std::string bad_model = folder_.file("bad.csv");
    write_file(bad_model, "depth_km,vp_km_s,vs_km_s\n0,5.8,3.3\n10,-6.5,3.7\n");
    expect_refused(demo + stations + " --velocity-model " + bad_model, bad_model + ":3: velocities must be positive");
    write_file(bad_model, "depth_km,vp_km_s,vs_km_s\n0,5.8,3.3\n10,6.5,3.7\n5,7,4\n");
    expect_refused(demo + stations + " --velocity-model " + bad_model, bad_model + ":4: depth");
    const std::string other = folder_.file("other.csv");
    write_file(other, "network,station,latitude,longitude,elevation_m\nYY,A1,46.0,7.0,0\n");
    expect_refused(demo + other, other + ": gives none of the channels coordinates");
    const std::string archive = folder_.file("sds");
    ASSERT_EQ(run("--write-synthetic " + archive).status, 0);
    expect_refused("--sds " + archive + " --stations " + other, other + ": gives none of the channels coordinates");
    expect_refused("--demo --velocity-model " + model, "--velocity-model: locating needs --stations FILE");
}

}  // namespace
