// The locator on a synthetic network whose arrivals come from a plain ray
// tracer through the same layers: hypocentres, origin times, residuals,
// distances, azimuths and gaps against the known truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "association.h"
#include "layered_arrivals.h"
#include "locator.h"

namespace {

using namespace detect::location;

constexpr double degree = M_PI / 180.0;

// Great-circle distance (km) and azimuth (degrees) from one point to another.
double distance_km(double lat1, double lon1, double lat2, double lon2)
{
    const double a = std::pow(std::sin(0.5 * (lat2 - lat1) * degree), 2) +
                     std::cos(lat1 * degree) * std::cos(lat2 * degree) *
                         std::pow(std::sin(0.5 * (lon2 - lon1) * degree), 2);
    return 2.0 * 6371.0 * std::asin(std::sqrt(a));
}

double azimuth_deg(double lat1, double lon1, double lat2, double lon2)
{
    const double dl = (lon2 - lon1) * degree;
    const double az = std::atan2(std::sin(dl) * std::cos(lat2 * degree),
                                 std::cos(lat1 * degree) * std::sin(lat2 * degree) -
                                     std::sin(lat1 * degree) * std::cos(lat2 * degree) *
                                         std::cos(dl));
    return std::fmod(az / degree + 360.0, 360.0);
}

struct Hypocentre {
    double latitude, longitude, depth;
    int64_t time;
};

class SyntheticNetwork : public ::testing::Test {
protected:
    static constexpr double centre_lat = 46.2, centre_lon = 7.4;
    const detect_test::Layers p_layers{{0.0, 4.0, 15.0, 30.0}, {5.5, 6.0, 6.6, 8.0}};
    const detect_test::Layers s_layers{{0.0, 4.0, 15.0, 30.0}, {3.2, 3.5, 3.8, 4.6}};
    std::mt19937_64 random{21};
    std::vector<StationSite> sites;

    void SetUp() override
    {
        std::uniform_real_distribution<double> offset(-20.0, 20.0), elevation(0.0, 1500.0);
        for (int s = 0; s < 12; ++s)
            sites.push_back({"XX", "S" + std::to_string(s), "", "",
                             centre_lat + offset(random) / 111.2,
                             centre_lon + offset(random) / (111.2 * std::cos(centre_lat * degree)),
                             elevation(random)});
    }

    VelocityModel model() const
    {
        return {p_layers.top, p_layers.velocity, s_layers.velocity, false};
    }

    Hypocentre random_hypocentre(double reach_km)
    {
        std::uniform_real_distribution<double> offset(-reach_km, reach_km), depth(1.0, 20.0);
        return {centre_lat + offset(random) / 111.2,
                centre_lon + offset(random) / (111.2 * std::cos(centre_lat * degree)),
                depth(random), 1700000000000000 + static_cast<int64_t>(offset(random) * 1e6)};
    }

    std::vector<PhasePick> arrivals(const Hypocentre &h, double noise_s)
    {
        std::normal_distribution<double> noise(0.0, noise_s);
        std::vector<PhasePick> picks;
        for (int32_t s = 0; s < static_cast<int32_t>(sites.size()); ++s) {
            const double x = distance_km(h.latitude, h.longitude, sites[s].latitude,
                                         sites[s].longitude);
            const double receiver = -sites[s].elevation_m / 1000.0;
            for (const char phase : {'P', 'S'}) {
                const double t = detect_test::first_arrival(phase == 'P' ? p_layers : s_layers, x,
                                                            h.depth, receiver);
                picks.push_back(
                    {s, h.time + std::llround((t + noise(random)) * 1e6), phase, 0.01 + noise_s});
            }
        }
        return picks;
    }

    static double error_km(const Location &l, const Hypocentre &h)
    {
        return std::hypot(distance_km(l.latitude, l.longitude, h.latitude, h.longitude),
                          l.depth_km - h.depth);
    }
};

TEST_F(SyntheticNetwork, ExactArrivalsGiveTheHypocentre)
{
    const Locator locator(sites, model());
    std::vector<double> errors;
    for (int e = 0; e < 20; ++e) {
        const Hypocentre truth = random_hypocentre(15.0);
        const std::vector<PhasePick> picks = arrivals(truth, 0.0);
        const Location l = locator.locate(picks);
        ASSERT_EQ(l.status, LocationStatus::located);
        errors.push_back(error_km(l, truth));
        EXPECT_LT(errors.back(), 0.5);
        EXPECT_NEAR(l.origin_time, truth.time, 20000);
        EXPECT_EQ(l.phases_used, 24);
        EXPECT_LT(l.rms_residual_s, 0.01);
        // Distances and azimuths are those of the reported epicentre.
        for (size_t k = 0; k < picks.size(); ++k) {
            const StationSite &site = sites[picks[k].site];
            EXPECT_TRUE(l.picks[k].used);
            EXPECT_LT(std::fabs(l.picks[k].residual), 0.02);
            EXPECT_NEAR(l.picks[k].distance_km,
                        distance_km(l.latitude, l.longitude, site.latitude, site.longitude), 0.01);
            EXPECT_NEAR(l.picks[k].azimuth_deg,
                        azimuth_deg(l.latitude, l.longitude, site.latitude, site.longitude), 0.1);
        }
    }
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LT(errors[errors.size() / 2], 0.1);
}

TEST_F(SyntheticNetwork, NoisyPicksAnOutlierAndUncertainties)
{
    const Locator locator(sites, model());
    int within = 0;
    const int events = 20;
    for (int e = 0; e < events; ++e) {
        const Hypocentre truth = random_hypocentre(15.0);
        std::vector<PhasePick> picks = arrivals(truth, 0.05);
        picks[6].time += 2500000; // a coda wiggle taken for a P
        const Location l = locator.locate(picks);
        ASSERT_EQ(l.status, LocationStatus::located);
        EXPECT_FALSE(l.picks[6].used);
        EXPECT_NEAR(l.picks[6].residual, 2.5, 0.3);
        EXPECT_EQ(l.phases_used, 23);
        EXPECT_LT(error_km(l, truth), 2.0);
        const double horizontal = distance_km(l.latitude, l.longitude, truth.latitude,
                                              truth.longitude);
        within += horizontal < 3.0 * l.horizontal_uncertainty_km &&
                  std::fabs(l.depth_km - truth.depth) < 3.0 * l.depth_uncertainty_km;
        EXPECT_LT(l.horizontal_uncertainty_km, 1.0);
    }
    EXPECT_GE(within, events * 8 / 10);
}

TEST_F(SyntheticNetwork, AnEventOutsideIsFlaggedByItsGap)
{
    LocatorOptions options;
    options.max_gap_deg = 180.0;
    options.margin_km = 40.0;
    const Locator locator(sites, model(), options);
    Hypocentre truth{centre_lat + 2.0 / 111.2,
                     centre_lon + 35.0 / (111.2 * std::cos(centre_lat * degree)), 8.0,
                     1700000000000000};
    const Location l = locator.locate(arrivals(truth, 0.0));
    EXPECT_EQ(l.status, LocationStatus::large_gap);
    EXPECT_LT(error_km(l, truth), 0.5);
    std::vector<double> azimuths;
    for (const StationSite &s : sites)
        azimuths.push_back(azimuth_deg(truth.latitude, truth.longitude, s.latitude, s.longitude));
    std::sort(azimuths.begin(), azimuths.end());
    double gap = 360.0 - azimuths.back() + azimuths.front();
    for (size_t i = 1; i < azimuths.size(); ++i)
        gap = std::max(gap, azimuths[i] - azimuths[i - 1]);
    EXPECT_GT(gap, 180.0);
    EXPECT_NEAR(l.azimuthal_gap_deg, gap, 1.0);
}

TEST_F(SyntheticNetwork, TooFewPhasesOrStationsKeepThePicks)
{
    const Locator locator(sites, model());
    const std::vector<PhasePick> all = arrivals(random_hypocentre(10.0), 0.0);
    // Three P picks; then P and S on two stations; then picks of unknown sites.
    for (const std::vector<PhasePick> &picks :
         {std::vector<PhasePick>{all[0], all[2], all[4]},
          std::vector<PhasePick>(all.begin(), all.begin() + 4),
          std::vector<PhasePick>{
              {-1, all[0].time, 'P', 0.01}, {40, all[2].time, 'P', 0.01}, all[4], all[6]}}) {
        const Location l = locator.locate(picks);
        EXPECT_EQ(l.status, LocationStatus::too_few_phases);
        EXPECT_TRUE(std::isnan(l.latitude));
        ASSERT_EQ(l.picks.size(), picks.size());
        for (const PickFit &fit : l.picks)
            EXPECT_FALSE(fit.used);
    }
}

TEST_F(SyntheticNetwork, SitesOfOneStationShareItsNumber)
{
    // A second location code of S0, S0 of another network, and S1.
    sites.push_back(sites[0]);
    sites.back().location = "10";
    sites.push_back(sites[0]);
    sites.back().network = "YY";
    const Locator locator(sites, model());
    const auto last = static_cast<int32_t>(sites.size()) - 1;
    EXPECT_EQ(locator.station_of(0), locator.station_of(last - 1));
    EXPECT_NE(locator.station_of(0), locator.station_of(last));
    EXPECT_NE(locator.station_of(0), locator.station_of(1));
    EXPECT_NE(locator.station_of(1), locator.station_of(last));
}

TEST_F(SyntheticNetwork, AssociationSeparatesOverlappingEventsAndFixesLabels)
{
    const Locator locator(sites, model());
    // Two events 3 s apart at different places, a third a minute later.
    std::vector<Hypocentre> truth = {random_hypocentre(15.0), random_hypocentre(15.0),
                                     random_hypocentre(15.0)};
    truth[1].time = truth[0].time + 3000000, truth[2].time = truth[0].time + 60000000;
    struct Labelled {
        PhasePick pick;
        int event; // -1: a pick no origin explains
        char phase;
    };
    std::vector<Labelled> all;
    for (int e = 0; e < 3; ++e)
        for (const PhasePick &pick : arrivals(truth[e], 0.0))
            all.push_back({pick, e, pick.phase});
    // Labels the station picker got wrong.
    for (size_t k = 0; k < all.size(); k += 5)
        all[k].pick.phase = all[k].pick.phase == 'P' ? 'S' : 'P';
    std::uniform_int_distribution<int32_t> site(0, static_cast<int32_t>(sites.size()) - 1);
    std::uniform_real_distribution<double> when(-5.0, 70.0);
    for (int n = 0; n < 6; ++n)
        all.push_back(
            {{site(random), truth[0].time + static_cast<int64_t>(when(random) * 1e6), 'P', 0.01},
             -1,
             'P'});
    std::shuffle(all.begin(), all.end(), random);
    std::vector<PhasePick> picks;
    for (const Labelled &l : all)
        picks.push_back(l.pick);

    const std::vector<AssociatedEvent> events = associate(locator, picks);
    ASSERT_EQ(events.size(), 3u);
    for (const AssociatedEvent &event : events) {
        ASSERT_FALSE(event.picks.empty());
        const int e = all[event.picks[0]].event;
        ASSERT_GE(e, 0);
        EXPECT_EQ(event.picks.size(), 24u);
        for (size_t m = 0; m < event.picks.size(); ++m) {
            EXPECT_EQ(all[event.picks[m]].event, e);
            EXPECT_EQ(event.phases[m], all[event.picks[m]].phase);
        }
        EXPECT_EQ(event.location.status, LocationStatus::located);
        EXPECT_LT(error_km(event.location, truth[e]), 0.5);
    }
}

TEST_F(SyntheticNetwork, AGroupWhosePPicksMisleadIsLocatedByAllItsPicks)
{
    // Five stations: three with their P and S, two with the S and a
    // noise onset labelled P before it, as a station picker makes them
    // where the true P is too weak.
    const Locator locator(sites, model());
    for (int e = 0; e < 10; ++e) {
        const Hypocentre truth = random_hypocentre(10.0);
        const std::vector<PhasePick> exact = arrivals(truth, 0.0);
        std::vector<PhasePick> picks;
        for (int32_t s = 0; s < 5; ++s) {
            PhasePick p = exact[2 * static_cast<size_t>(s)];
            const PhasePick &s_wave = exact[2 * static_cast<size_t>(s) + 1];
            if (s >= 3)
                p.time = s_wave.time - 800000;
            picks.push_back(p), picks.push_back(s_wave);
        }
        std::vector<size_t> group(picks.size());
        for (size_t k = 0; k < group.size(); ++k)
            group[k] = k;
        const std::vector<AssociatedEvent> events = associate_groups(locator, picks, {group});
        ASSERT_EQ(events.size(), 1u);
        EXPECT_GE(events[0].picks.size(), 8u);
        EXPECT_LT(error_km(events[0].location, truth), 1.0);
    }
}

TEST_F(SyntheticNetwork, ANoiseOnsetThatHoldsTheOriginOnTheFloorIsLeftOut)
{
    // P picks at seven stations, the latest taken 2 s early (a noise onset
    // before that P): their L1 origin goes to the floor of the volume for
    // about 40% of these events, unless that pick is left out.
    const Locator locator(sites, model());
    std::vector<double> errors;
    int left_out = 0;
    for (int e = 0; e < 40; ++e) {
        const Hypocentre truth = random_hypocentre(10.0);
        std::vector<PhasePick> picks;
        for (const PhasePick &p : arrivals(truth, 0.03))
            if (p.phase == 'P' && p.site < 7) picks.push_back(p);
        const auto later = [](const PhasePick &a, const PhasePick &b) { return a.time < b.time; };
        const auto latest = static_cast<size_t>(std::max_element(picks.begin(), picks.end(), later) - picks.begin());
        picks[latest].time -= 2000000;
        const Location l = locator.locate_off_the_floor(picks);
        ASSERT_NE(l.status, LocationStatus::too_few_phases);
        EXPECT_LT(l.depth_km, 29.0) << e;
        left_out += !l.picks[latest].used;
        errors.push_back(error_km(l, truth));
    }
    EXPECT_GE(left_out, 30);
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LT(errors[errors.size() / 2], 1.5);
}

} // namespace
