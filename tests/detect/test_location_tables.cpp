// Travel-time tables against closed forms: a half-space, the head wave of
// two layers, a linear gradient, and a plain ray tracer for several layers.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "layered_arrivals.h"
#include "travel_times.h"

namespace {

using detect::location::TableGrid;
using detect::location::TravelTimeTable;
using detect::location::VelocityModel;
using detect::location::Wave;

// Bilinear interpolation between nodes a quarter of a km apart is off by
// at most step^2 / 8 times the curvature, 1 / (v r) for a straight ray of
// length r.
double interpolation_bound(double velocity, double path)
{
    return 0.25 * 0.25 / (4.0 * velocity * path) + 1e-6;
}

TEST(TravelTimes, HalfSpaceIsStraightRays)
{
    const VelocityModel model{{0.0}, {5.0}, {3.0}, false};
    const TableGrid grid{60.0, -2.0, 30.0, 0.25};
    for (const double receiver : {0.0, -1.25}) {
        const TravelTimeTable p(model, Wave::P, receiver, grid), s(model, Wave::S, receiver, grid);
        // Exact at a node: 3-4-5.
        EXPECT_NEAR(p.time(3.0, receiver + 4.0), 1.0, 1e-9);
        std::mt19937_64 random(11);
        std::uniform_real_distribution<double> distance(2.0, 60.0), depth(0.0, 30.0);
        for (int trial = 0; trial < 500; ++trial) {
            const double x = distance(random), z = depth(random);
            const double path = std::hypot(x, z - receiver);
            EXPECT_NEAR(p.time(x, z), path / 5.0, interpolation_bound(5.0, path)) << x << " " << z;
            EXPECT_NEAR(s.time(x, z), path / 3.0, interpolation_bound(3.0, path)) << x << " " << z;
        }
    }
}

TEST(TravelTimes, TwoLayersGiveTheHeadWaveBeyondCrossover)
{
    const double v1 = 5.0, v2 = 7.0, thickness = 10.0;
    const VelocityModel model{{0.0, thickness}, {v1, v2}, {2.9, 4.0}, false};
    const TravelTimeTable table(model, Wave::P, 0.0, TableGrid{120.0, 0.0, 9.5, 0.25});
    const double sine = v1 / v2, cosine = std::sqrt(1.0 - sine * sine);
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> distance(1.0, 120.0), depth(0.0, 9.5);
    int heads = 0;
    for (int trial = 0; trial < 500; ++trial) {
        const double x = distance(random), z = depth(random);
        const double direct = std::hypot(x, z) / v1;
        const double critical = (2.0 * thickness - z) * sine / cosine;
        const double head = x >= critical ? x / v2 + (2.0 * thickness - z) * cosine / v1 : INFINITY;
        heads += head < direct;
        // Across the crossover, interpolation cuts the corner of the two
        // branches: by at most a step times the difference of their slopes.
        const double corner = std::fabs(direct - head) < 0.1
                                  ? 0.25 * (1.0 / v1 - 1.0 / v2 + cosine / v1)
                                  : 0.0;
        EXPECT_NEAR(table.time(x, z), std::min(direct, head),
                    interpolation_bound(v1, std::hypot(x, z)) + corner)
            << x << " " << z;
    }
    EXPECT_GT(heads, 100);
}

TEST(TravelTimes, LinearGradientMatchesItsClosedForm)
{
    // v = v0 + g z; between two points t = acosh(1 + g^2 r^2 / (2 v1 v2)) / g.
    const double v0 = 4.0, gradient = 0.1;
    const VelocityModel model{
        {0.0, 40.0}, {v0, v0 + 40.0 * gradient}, {2.0, 2.0 + 40.0 * gradient / 2.0}, true};
    const TravelTimeTable table(model, Wave::P, 0.0, TableGrid{40.0, 0.0, 20.0, 0.1});
    std::mt19937_64 random(13);
    std::uniform_real_distribution<double> distance(2.0, 40.0), depth(0.0, 20.0);
    for (int trial = 0; trial < 300; ++trial) {
        const double x = distance(random), z = depth(random);
        const double v = v0 + gradient * z;
        const double exact = std::acosh(1.0 +
                                        gradient * gradient * (x * x + z * z) / (2.0 * v0 * v)) /
                             gradient;
        EXPECT_NEAR(table.time(x, z), exact, 1e-3 * exact) << x << " " << z;
    }
}

TEST(TravelTimes, LayersWithALowVelocityZoneMatchAPlainRayTracer)
{
    const detect_test::Layers layers{{-1.0, 2.0, 8.0, 12.0, 30.0}, {3.0, 5.5, 4.8, 6.6, 8.0}};
    const VelocityModel model{layers.top, layers.velocity, {1.5, 3.0, 2.6, 3.7, 4.5}, false};
    std::mt19937_64 random(14);
    std::uniform_real_distribution<double> distance(1.0, 150.0), depth(-0.5, 35.0);
    for (const double receiver : {-0.8, 0.0, 3.0}) {
        const TravelTimeTable table(model, Wave::P, receiver, TableGrid{150.0, -0.5, 35.0, 0.25});
        for (int trial = 0; trial < 300; ++trial) {
            // At nodes, where the table holds the exact value.
            const double x = std::round(distance(random) * 4.0) / 4.0,
                         z = std::round(depth(random) * 4.0) / 4.0;
            EXPECT_NEAR(table.time(x, z), detect_test::first_arrival(layers, x, z, receiver), 1e-5)
                << x << " " << z << " " << receiver;
        }
    }
}

} // namespace
