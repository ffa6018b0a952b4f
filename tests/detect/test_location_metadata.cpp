// Station tables, StationXML, velocity models and the local projection:
// values read back, and messages that name the file and the place.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include "local_projection.h"
#include "stations.h"
#include "temp_folder.h"
#include "velocity_model.h"

namespace {

using namespace detect::location;

std::string write(const detect_test::TempFolder &folder, const std::string &name,
                  const std::string &text)
{
    const std::string path = folder.file(name);
    std::ofstream(path) << text;
    return path;
}

// The message of the exception `read` throws, or "" if it throws none.
template <class Read>
std::string failure(Read read)
{
    try {
        read();
    } catch (const std::runtime_error &error) {
        return error.what();
    }
    return "";
}

const char *station_xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<FDSNStationXML xmlns="http://www.fdsn.org/xml/station/1" schemaVersion="1.1">
  <Source>test</Source>
  <Network code="XX">
    <Station code="AB">
      <Latitude>46.5</Latitude><Longitude>7.25</Longitude><Elevation>1200</Elevation>
      <Channel code="HHZ" locationCode="00">
        <Latitude>46.501</Latitude><Longitude>7.252</Longitude><Elevation>1210</Elevation><Depth>30</Depth>
      </Channel>
      <Channel code="HHN" locationCode="00"><Azimuth>0</Azimuth></Channel>
    </Station>
    <Station code="CD">
      <Latitude>-12.5</Latitude><Longitude>200.0</Longitude><Elevation>-15.5</Elevation>
    </Station>
  </Network>
</FDSNStationXML>
)";

TEST(StationMetadata, StationXmlGivesChannelSitesWithTheirOwnCoordinates)
{
    detect_test::TempFolder folder;
    const std::vector<StationSite> sites = read_stations(write(folder, "s.xml", station_xml));
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].channel, "HHZ");
    EXPECT_EQ(sites[0].location, "00");
    EXPECT_DOUBLE_EQ(sites[0].latitude, 46.501);
    EXPECT_DOUBLE_EQ(sites[0].longitude, 7.252);
    EXPECT_DOUBLE_EQ(sites[0].elevation_m, 1180.0); // 30 m below its listed ground
    EXPECT_DOUBLE_EQ(sites[1].latitude, 46.5);      // the station's, as the channel gives none
    EXPECT_DOUBLE_EQ(sites[1].elevation_m, 1200.0);
    EXPECT_EQ(sites[2].station, "CD");
    EXPECT_TRUE(sites[2].channel.empty());
    EXPECT_DOUBLE_EQ(sites[2].elevation_m, -15.5);

    EXPECT_EQ(find_site(sites, "XX.AB.00.HHN"), 1);
    EXPECT_EQ(find_site(sites, "XX.AB.00.HHE"), 0); // a channel not listed: the station's first
    EXPECT_EQ(find_site(sites, "XX.CD..BHZ"), 2);
    EXPECT_EQ(find_site(sites, "XX.EF..HHZ"), -1);
}

TEST(StationMetadata, StationXmlErrorsNameTheElement)
{
    detect_test::TempFolder folder;
    std::string bad(station_xml);
    bad.replace(bad.find("46.501"), 6, "200");
    const std::string path = write(folder, "bad.xml", bad);
    const std::string message = failure([&] { read_station_xml(path); });
    EXPECT_NE(message.find(path + ":7: "), std::string::npos) << message;
    EXPECT_NE(message.find("Network XX/Station AB/Channel HHZ"), std::string::npos) << message;
    EXPECT_NE(message.find("latitude"), std::string::npos) << message;

    std::string missing(station_xml);
    missing.replace(missing.find("<Longitude>200.0</Longitude>"), 28, "");
    EXPECT_NE(failure([&] {
                  read_station_xml(write(folder, "m.xml", missing));
              }).find("Station CD: no Longitude"),
              std::string::npos);
    EXPECT_NE(
        failure([&] { read_station_xml(write(folder, "t.xml", "<a><b></a>")); }).find("not XML"),
        std::string::npos);
    EXPECT_NE(failure([&] {
                  read_station_xml(write(folder, "q.xml", "<quakeml/>"));
              }).find("not StationXML"),
              std::string::npos);
}

TEST(StationMetadata, CsvTablesAndTheirErrors)
{
    detect_test::TempFolder folder;
    const std::string good = write(folder, "s.csv",
                                   "station,network,latitude,longitude,elevation_m,site\n"
                                   "# a comment\n"
                                   "AB,XX,46.5,7.25,1200,somewhere\n"
                                   "\n"
                                   "CD,XX,-12.5,-170,-15.5,\n");
    const std::vector<StationSite> sites = read_stations(good);
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[1].network, "XX");
    EXPECT_EQ(sites[1].station, "CD");
    EXPECT_DOUBLE_EQ(sites[1].longitude, -170.0);
    EXPECT_DOUBLE_EQ(sites[1].elevation_m, -15.5);

    const std::string header = "network,station,latitude,longitude,elevation_m\n";
    const struct {
        std::string text, expected;
    } cases[] = {
        {header + "XX,AB,46,7,100\nXX,CD,200,7,100\n", ":3: latitude 200"},
        {header + "XX,AB,46,7,100\nXX,CD,46,7,1e6\n", ":3: elevation"},
        {header + "XX,AB,46,seven,100\n", ":2: longitude 'seven' is not a number"},
        {header + "XX,AB,46,7\n", ":2: no value for 'elevation_m'"},
        {"network,station,lat,longitude,elevation_m\nXX,AB,46,7,100\n", ":1: no column 'latitude'"},
        {"", "empty"},
    };
    for (const auto &c : cases) {
        const std::string path = write(folder, "bad.csv", c.text);
        const std::string message = failure([&] { read_station_csv(path); });
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
    EXPECT_NE(failure([&] { read_stations(folder.file("none.csv")); }).find("cannot be read"),
              std::string::npos);
}

TEST(VelocityModels, LayersGradientsAndChecks)
{
    detect_test::TempFolder folder;
    const std::string path = write(folder, "v.csv",
                                   "depth_km,vp_km_s,vs_km_s\n-2,3.0,1.7\n4,6.0,3.5\n10,7.0,4.0\n");
    const VelocityModel layered = read_velocity_model(path, false),
                        graded = read_velocity_model(path, true);
    const struct {
        double depth, layered_vp, graded_vp;
    } expected[] = {{-5.0, 3.0, 3.0}, {-2.0, 3.0, 3.0}, {1.0, 3.0, 4.5},
                    {4.0, 6.0, 6.0},  {7.0, 6.0, 6.5},  {30.0, 7.0, 7.0}};
    for (const auto &e : expected) {
        EXPECT_DOUBLE_EQ(layered.velocity(Wave::P, e.depth), e.layered_vp) << e.depth;
        EXPECT_DOUBLE_EQ(graded.velocity(Wave::P, e.depth), e.graded_vp) << e.depth;
    }
    EXPECT_DOUBLE_EQ(graded.velocity(Wave::S, 7.0), 3.75);

    const std::string header = "depth_km,vp_km_s,vs_km_s\n";
    const struct {
        std::string text, expected;
    } cases[] = {
        {header + "0,5,3\n5,6,3.5\n5,7,4\n", ":4: depth 5"},
        {header + "0,5,3\n5,-6,3.5\n", ":3: velocities must be positive"},
        {header + "0,5,5\n", ":2: vs must be below vp"},
        {"depth,vp_km_s,vs_km_s\n0,5,3\n", "no column 'depth_km'"},
        {header, "no layers"},
    };
    for (const auto &c : cases) {
        const std::string bad = write(folder, "bad.csv", c.text);
        const std::string message = failure([&] { read_velocity_model(bad, false); });
        EXPECT_NE(message.find(bad), std::string::npos) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
    std::string message;
    check_velocity_model(default_velocity_model(), message);
    EXPECT_EQ(message, "");
}

TEST(LocalProjection, KeepsDistancesFromTheCentreAndRoundTrips)
{
    const LocalProjection projection(64.8, -16.9);
    // A degree of latitude due north is R * pi / 180 km.
    const PlanePoint north = projection.to_plane(65.8, -16.9);
    EXPECT_NEAR(north.east_km, 0.0, 1e-9);
    EXPECT_NEAR(north.north_km, earth_radius_km * M_PI / 180.0, 1e-9);
    EXPECT_NEAR(azimuth(64.8, -16.9, 64.8, -15.0), 90.0 - 0.5 * 1.9 * std::sin(64.8 * M_PI / 180.0),
                0.01);
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> offset(-1.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const double latitude = 64.8 + offset(random), longitude = -16.9 + 2.0 * offset(random);
        double back_latitude, back_longitude;
        projection.to_geographic(projection.to_plane(latitude, longitude), back_latitude,
                                 back_longitude);
        EXPECT_NEAR(back_latitude, latitude, 1e-9);
        EXPECT_NEAR(back_longitude, longitude, 1e-9);
    }
}

} // namespace
