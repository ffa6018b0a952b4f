// Exact values of the moving max-jump on small hand-checked traces, and the
// behaviours chosen for calls outside the contract.
#include "onset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

std::vector<double> movmxjump(const std::vector<double> &input, uint32_t window)
{
    std::vector<double> output(input.size(), -12345.0);
    trace_movmxjump(output.data(), input.data(), static_cast<uint32_t>(input.size()), window);
    return output;
}

TEST(MovmxjumpExamples, ShortTraceForEachWindow)
{
    const std::vector<double> trace{3, 1, 4, 1, 5, 9, 2, 6};
    EXPECT_EQ(movmxjump(trace, 2), (std::vector<double>{0, -2, 3, -3, 4, 4, -7, 4}));
    EXPECT_EQ(movmxjump(trace, 3), (std::vector<double>{-2, 3, 3, 4, 8, -7, -7, 4}));
    EXPECT_EQ(movmxjump(trace, 4), (std::vector<double>{-2, 3, 3, 4, 8, 8, -7, -7}));
    EXPECT_EQ(movmxjump(trace, 5), (std::vector<double>{3, 3, 4, 8, 8, 8, -7, -7}));
    EXPECT_EQ(movmxjump(trace, 8), (std::vector<double>{3, 4, 8, 8, 8, 8, 8, 8}));
}

TEST(MovmxjumpExamples, TiesGoToTheEarlierSample)
{
    EXPECT_EQ(movmxjump({0, 2, 0}, 3), (std::vector<double>{2, 2, -2}));
    EXPECT_EQ(movmxjump({2, 0, 2}, 3), (std::vector<double>{-2, -2, 2}));
    EXPECT_EQ(movmxjump({1, 3, 3, 0}, 4), (std::vector<double>{2, 2, -3, -3}));
}

TEST(MovmxjumpExamples, MonotoneAndFlatTraces)
{
    EXPECT_EQ(movmxjump({1, 2, 3, 4, 5}, 3), (std::vector<double>{1, 2, 2, 2, 1}));
    EXPECT_EQ(movmxjump({5, 4, 3, 2, 1}, 3), (std::vector<double>{-1, -2, -2, -2, -1}));
    const std::vector<double> flat(37, 2.5);
    for (uint32_t w = 1; w <= 37; ++w)
        EXPECT_EQ(movmxjump(flat, w), std::vector<double>(37, 0.0)) << "w " << w;
}

TEST(MovmxjumpExamples, WidthsOneAndTwo)
{
    const std::vector<double> trace{0.5, -1.25, 3, 3, 7.75, -2};
    EXPECT_EQ(movmxjump(trace, 1), std::vector<double>(6, 0.0));
    EXPECT_EQ(movmxjump(trace, 2), (std::vector<double>{0, -1.75, 4.25, 0, 4.75, -9.75}));
}

TEST(MovmxjumpOutsideContract, EmptyTraceWritesNothing)
{
    std::vector<double> output{42.0};
    const double input = 1.0;
    for (uint32_t w : {0u, 1u, 7u}) {
        trace_movmxjump(output.data(), &input, 0, w);
        EXPECT_EQ(output[0], 42.0);
        trace_movmxjump(nullptr, nullptr, 0, w);
    }
}

TEST(MovmxjumpOutsideContract, EmptyWindowGivesNaN)
{
    for (double v : movmxjump({1, 2, 3, 4, 5}, 0))
        EXPECT_TRUE(std::isnan(v));
}

TEST(MovmxjumpOutsideContract, WindowsWiderThanTheTraceAreClipped)
{
    // Window of k: k - w/2 .. k + (w+1)/2 - 1, clipped to 0 .. 4.
    const std::vector<double> trace{3, 1, 4, 1, 5};
    EXPECT_EQ(movmxjump(trace, 6), (std::vector<double>{3, 3, 4, 4, 4}));
    EXPECT_EQ(movmxjump(trace, 7), (std::vector<double>{3, 4, 4, 4, 4}));
    EXPECT_EQ(movmxjump(trace, 9), (std::vector<double>{4, 4, 4, 4, 4}));
    EXPECT_EQ(movmxjump({5, 1, 4, 0, 2}, 6), (std::vector<double>{-4, -5, -5, -5, -4}));
    EXPECT_EQ(movmxjump(trace, UINT32_MAX), (std::vector<double>{4, 4, 4, 4, 4}));
    EXPECT_EQ(movmxjump({2, 5}, UINT32_MAX - 1), (std::vector<double>{3, 3}));
    EXPECT_EQ(movmxjump({7}, 100), (std::vector<double>{0}));
}

TEST(MovmxjumpOutsideContract, WindowsHoldingNaNGiveNaN)
{
    const double nan = std::nan("");
    const std::vector<double> out = movmxjump({1, 4, nan, 2, 8, 0, 5}, 3);
    EXPECT_EQ(out[0], 3);
    EXPECT_TRUE(std::isnan(out[1]) && std::isnan(out[2]) && std::isnan(out[3]));
    EXPECT_EQ(out[4], -8);
    EXPECT_EQ(out[5], -8);
    EXPECT_EQ(out[6], 5);
}

} // namespace
