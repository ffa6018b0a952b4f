// Random traces of many lengths and windows against the kurtosis of each
// window computed on its own.
#include "kurtosis_reference.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using kurtosis_test::integer_trace;
using kurtosis_test::mismatches;
using kurtosis_test::movkurtosis_of;
using onset_test::normal_noise;

// Drift of the running sums that stays inside the band is stored as it is;
// on these traces it stays far below this.
constexpr double tolerance = 1e-7;

struct Shape {
    std::uint32_t n;
    std::uint32_t w;
};

std::vector<Shape> shapes()
{
    std::vector<Shape> all;
    for (std::uint32_t w = 1; w <= 8; ++w)
        for (std::uint32_t n : {w, w + 1, w + 2, 3 * w + 1, 40u})
            if (n >= 1)
                all.push_back({n, w});
    for (std::uint32_t w : {9u, 16u, 17u, 31u, 64u, 101u, 128u, 150u, 257u})
        for (std::uint32_t n : {w, w + 1, 2 * w, 700u})
            if (n >= w)
                all.push_back({n, w});
    return all;
}

TEST(MovkurtosisRandom, NormalTracesMatchEachWindow)
{
    std::uint64_t seed = 1;
    for (const Shape &s : shapes()) {
        for (double mean : {0.0, 1000.0}) {
            const std::vector<double> in = normal_noise(s.n, seed++, mean, 1.0);
            EXPECT_EQ(mismatches(in, movkurtosis_of(in, s.w), s.w, tolerance), "")
                << "n=" << s.n << " w=" << s.w << " mean=" << mean;
        }
    }
}

TEST(MovkurtosisRandom, BurstyTracesMatchEachWindow)
{
    // Quiet stretches broken by loud bursts: windows far outside the band
    // force runs of recomputations.
    std::uint64_t seed = 100;
    for (const Shape &s : shapes()) {
        std::vector<double> in = normal_noise(s.n, seed++);
        for (std::uint32_t k = s.n / 3; k < s.n && k < s.n / 3 + 3; ++k)
            in[k] *= 30.0;
        EXPECT_EQ(mismatches(in, movkurtosis_of(in, s.w), s.w, tolerance), "")
            << "n=" << s.n << " w=" << s.w;
    }
}

TEST(MovkurtosisRandom, SmallIntegerTracesMatchAndFlatWindowsGiveNan)
{
    std::uint64_t seed = 200;
    for (const Shape &s : shapes()) {
        const std::vector<double> in = integer_trace(s.n, seed++, 3);
        const std::vector<double> out = movkurtosis_of(in, s.w);
        EXPECT_EQ(mismatches(in, out, s.w, tolerance), "") << "n=" << s.n << " w=" << s.w;
    }
}

TEST(MovkurtosisRandom, WindowsWiderThan65536)
{
    // Count products such as g (g + 1) pass 2^32 here; they must stay exact.
    const std::uint32_t n = 70000;
    const std::uint32_t w = 66001;
    const std::vector<double> in = normal_noise(n, 9);
    const std::vector<double> out = movkurtosis_of(in, w);
    for (std::uint32_t i : {1u, 32990u, 33000u, 33001u, 36000u, 36999u, 37000u, 50000u, 69999u}) {
        const double want = static_cast<double>(
            kurtosis_test::direct_moments(in, kurtosis_test::window_of(i, n, w)).kurtosis);
        EXPECT_NEAR(out[i], want, tolerance * want) << "out[" << i << "]";
    }
}

TEST(MovkurtosisRandom, WindowZeroGivesNanEverywhere)
{
    for (std::uint32_t n : {1u, 2u, 7u, 100u}) {
        const std::vector<double> out = movkurtosis_of(normal_noise(n, n), 0);
        for (std::uint32_t i = 0; i < n; ++i)
            EXPECT_TRUE(std::isnan(out[i])) << "n=" << n << " i=" << i;
    }
}

} // namespace
