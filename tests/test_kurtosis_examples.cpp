// Worked examples of the moving kurtosis: small windows with known values,
// traces shorter than their window, the outlier case and the recovery after
// non-finite or overflowing samples.
#include "kurtosis_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using kurtosis_test::direct_moments;
using kurtosis_test::mismatches;
using kurtosis_test::movkurtosis_of;
using kurtosis_test::window_of;
using onset_test::normal_noise;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double rounding = 1e-12;

TEST(MovkurtosisExamples, FiveSamplesWindowFive)
{
    const std::vector<double> in{0.3, -1.2, 2.5, 0.7, -0.4};
    const std::vector<double> out = movkurtosis_of(in, 5);
    // Windows in[0..2], in[0..3], in[0..4], in[1..4], in[2..4].
    const std::uint32_t lo[] = {0, 0, 0, 1, 2};
    const std::uint32_t hi[] = {2, 3, 4, 4, 4};
    for (std::uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(window_of(i, 5, 5).lo, lo[i]);
        EXPECT_EQ(window_of(i, 5, 5).hi, hi[i]);
        const double want = static_cast<double>(direct_moments(in, {lo[i], hi[i]}).kurtosis);
        EXPECT_NEAR(out[i], want, rounding * want) << i;
    }
    EXPECT_NEAR(out[0], 1.5, rounding);
    EXPECT_NEAR(out[4], 1.5, rounding);
}

TEST(MovkurtosisExamples, AlternatingTraceWindowFour)
{
    std::vector<double> in(12);
    for (std::size_t k = 0; k < in.size(); ++k)
        in[k] = k % 2 == 0 ? 1.0 : 2.0;
    const std::vector<double> out = movkurtosis_of(in, 4);
    EXPECT_NEAR(out[0], 1.5, rounding);
    for (std::size_t i = 1; i < 10; ++i)
        EXPECT_NEAR(out[i], 1.0, rounding) << i;
    EXPECT_NEAR(out[10], 1.5, rounding);
    EXPECT_NEAR(out[11], 1.0, rounding);
}

TEST(MovkurtosisExamples, WindowTwoOnSmallIntegers)
{
    const std::vector<double> in{3, 3, 1, 4, 4, 4, 2, 7, 7, 1};
    const std::vector<double> out = movkurtosis_of(in, 2);
    for (std::size_t i = 0; i + 1 < in.size(); ++i) {
        if (in[i] == in[i + 1])
            EXPECT_TRUE(std::isnan(out[i])) << i;
        else
            EXPECT_EQ(out[i], 1.0) << i;
    }
    EXPECT_TRUE(std::isnan(out.back()));
}

TEST(MovkurtosisExamples, WindowThreeEndsOnTwoSampleWindows)
{
    const std::vector<double> in = normal_noise(30, 3);
    const std::vector<double> out = movkurtosis_of(in, 3);
    EXPECT_NEAR(out[0], 1.0, rounding);
    for (std::size_t i = 1; i + 1 < in.size(); ++i)
        EXPECT_NEAR(out[i], 1.5, 1e-7) << i;
    EXPECT_NEAR(out.back(), 1.0, 1e-7);
}

TEST(MovkurtosisExamples, OneSampleAndFlatWindowsAreNan)
{
    const std::vector<double> in{2, 5, -1, 8};
    for (double k : movkurtosis_of(in, 1))
        EXPECT_TRUE(std::isnan(k));
    EXPECT_TRUE(std::isnan(movkurtosis_of({0.7, 1.9}, 1)[0]));
    const std::vector<double> flat(50, 7.0);
    for (std::uint32_t w : {2u, 3u, 4u, 9u, 20u, 50u})
        for (double k : movkurtosis_of(flat, w))
            EXPECT_TRUE(std::isnan(k)) << "w=" << w;
}

TEST(MovkurtosisExamples, OutlierEnteringWhileTheWindowGrows)
{
    // A single 200 among unit-spread samples, w = 61 (h = 30): the growing
    // phase writes out[1 .. 30] over in[0 .. i + 30]; the outlier at 40
    // enters at output 10 and sends the kurtosis far above the band.
    std::vector<double> in = normal_noise(300, 61);
    in[40] = 200.0;
    const std::vector<double> out = movkurtosis_of(in, 61);
    for (std::uint32_t i = 1; i <= 30; ++i) {
        const double want = static_cast<double>(direct_moments(in, {0, i + 30}).kurtosis);
        EXPECT_NEAR(out[i], want, 1e-10 * want) << i;
    }
    EXPECT_GT(out[10], 15.0);
    EXPECT_EQ(mismatches(in, out, 61, 1e-7), "");
}

// Output and input framed by canaries: a call may touch only the n samples
// between them.
struct GuardedTrace {
    static constexpr std::size_t guard = 8;
    static constexpr double canary = -12345.678;
    std::vector<double> input;
    std::vector<double> output;

    explicit GuardedTrace(const std::vector<double> &samples)
        : input(samples.size() + 2 * guard, nan), output(samples.size() + 2 * guard, canary)
    {
        std::copy(samples.begin(), samples.end(), input.begin() + guard);
    }
    std::uint32_t length() const { return static_cast<std::uint32_t>(input.size() - 2 * guard); }
    void run(std::uint32_t w) { trace_movkurtosis(&output[guard], &input[guard], length(), w); }
    bool guards_intact() const
    {
        for (std::size_t k = 0; k < guard; ++k)
            if (output[k] != canary || output[output.size() - 1 - k] != canary)
                return false;
        return true;
    }
    std::vector<double> result() const
    {
        return {output.begin() + guard, output.end() - guard};
    }
};

TEST(MovkurtosisShortTraces, EmptyTraceWritesNothing)
{
    GuardedTrace trace({});
    for (std::uint32_t w : {0u, 1u, 5u})
        trace.run(w);
    EXPECT_TRUE(trace.guards_intact());
}

TEST(MovkurtosisShortTraces, WindowsClippedToTheTrace)
{
    std::uint64_t seed = 70;
    for (std::uint32_t n = 1; n <= 12; ++n) {
        for (std::uint32_t w = n + 1; w <= 2 * n + 6; ++w) {
            const std::vector<double> samples = normal_noise(n, seed++);
            GuardedTrace trace(samples);
            trace.run(w);
            ASSERT_TRUE(trace.guards_intact()) << "n=" << n << " w=" << w;
            const std::vector<double> out = trace.result();
            EXPECT_EQ(mismatches(samples, out, w, 1e-7), "") << "n=" << n << " w=" << w;
            // Single-sample windows (n = 1, or the clipped ends) are NaN.
            for (std::uint32_t i = 0; i < n; ++i) {
                if (window_of(i, n, w).count() == 1) {
                    EXPECT_TRUE(std::isnan(out[i])) << "n=" << n << " w=" << w << " i=" << i;
                }
            }
        }
    }
}

// Outputs whose window holds index k are NaN, outputs before are those of
// the trace without the sample, and outputs after match each window again.
void expect_recovery(std::uint32_t n, std::uint32_t w, std::uint32_t k, double bad)
{
    const std::vector<double> clean = normal_noise(n, 1000 + k + w);
    std::vector<double> in = clean;
    in[k] = bad;
    const std::vector<double> out = movkurtosis_of(in, w);
    const std::vector<double> clean_out = movkurtosis_of(clean, w);
    // The outputs after the bad sample, set among those of the clean trace,
    // must match the clean trace's windows (the bad sample is in none).
    std::vector<double> tail = clean_out;
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto win = window_of(i, n, w);
        if (win.hi < k)
            EXPECT_EQ(std::memcmp(&out[i], &clean_out[i], sizeof(double)), 0) << "before " << i;
        else if (win.lo <= k)
            EXPECT_TRUE(std::isnan(out[i])) << "holding " << i << " got " << out[i];
        else
            tail[i] = out[i];
    }
    EXPECT_EQ(mismatches(clean, tail, w, 1e-7), "") << "n=" << n << " w=" << w << " k=" << k;
}

TEST(MovkurtosisNonFinite, NanOrInfinitySpoilsOnlyTheWindowsHoldingIt)
{
    const double infinity = std::numeric_limits<double>::infinity();
    for (double bad : {nan, infinity, -infinity})
        for (std::uint32_t w : {1u, 2u, 3u, 4u, 7u, 16u, 61u})
            for (std::uint32_t k : {0u, 2u, 5u, 40u, 97u, 99u})
                expect_recovery(100, w, k, bad);
}

TEST(MovkurtosisNonFinite, RecoversAfterOverflowingSample)
{
    // 1e200 is finite, but its square and fourth power overflow the sums.
    for (std::uint32_t w : {2u, 5u, 16u, 61u})
        for (std::uint32_t k : {0u, 3u, 50u, 99u}) {
            const std::vector<double> clean = normal_noise(100, 7 + w + k);
            std::vector<double> in = clean;
            in[k] = 1e200;
            const std::vector<double> out = movkurtosis_of(in, w);
            std::vector<double> tail = movkurtosis_of(clean, w);
            for (std::uint32_t i = 0; i < 100; ++i)
                if (window_of(i, 100, w).lo > k)
                    tail[i] = out[i];
            EXPECT_EQ(mismatches(clean, tail, w, 1e-7), "") << "w=" << w << " k=" << k;
        }
}

} // namespace
