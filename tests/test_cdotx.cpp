// Circular decimated correlation through the public entry.
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "onset.h"

namespace {

constexpr double sentinel = -999.0;

// Runs cdotx_dd into an output with room for `room` samples plus a guard
// tail, checks that nothing past `expected_count` was written, and returns
// the outputs.
std::vector<double> correlate(const std::vector<double> &signal, const std::vector<double> &filter,
                              std::int32_t center, std::uint32_t step, std::size_t expected_count)
{
    std::vector<double> output(expected_count + 8, sentinel);
    cdotx_dd(output.data(), signal.data(), static_cast<std::uint32_t>(signal.size()),
             filter.data(), static_cast<std::uint32_t>(filter.size()), center, step);
    for (std::size_t j = expected_count; j < output.size(); ++j)
        EXPECT_EQ(output[j], sentinel) << "written past the outputs at " << j;
    output.resize(expected_count);
    return output;
}

// The definition: output j = sum over i of A[(j*step - center + i) mod N] * B[i],
// with a bound on the rounding error of any summation order.
struct Reference {
    std::vector<double> values;
    std::vector<double> bounds;
};

Reference direct(const std::vector<double> &signal, const std::vector<double> &filter,
                 std::int64_t center, std::uint64_t step)
{
    const bool swap = signal.size() < filter.size();
    const std::vector<double> &a = swap ? filter : signal;
    const std::vector<double> &b = swap ? signal : filter;
    const auto n = static_cast<std::int64_t>(a.size());
    Reference ref;
    for (std::int64_t k = 0; k < n; k += static_cast<std::int64_t>(step)) {
        long double sum = 0.0L, magnitude = 0.0L;
        for (std::size_t i = 0; i < b.size(); ++i) {
            std::int64_t index = (k - center + static_cast<std::int64_t>(i)) % n;
            if (index < 0)
                index += n;
            const long double product = static_cast<long double>(a[index]) * b[i];
            sum += product;
            magnitude += std::fabs(product);
        }
        ref.values.push_back(static_cast<double>(sum));
        ref.bounds.push_back(static_cast<double>(magnitude) * 1e-14 + 1e-300);
    }
    return ref;
}

TEST(Cdotx, FiveSampleTraceAgainstABoxFilter)
{
    const std::vector<double> trace = {1, 2, 3, 4, 5}, box = {1, 1, 1};
    EXPECT_EQ(correlate(trace, box, 1, 1, 5), (std::vector<double>{8, 6, 9, 12, 10}));
    EXPECT_EQ(correlate(trace, box, 1, 2, 3), (std::vector<double>{8, 9, 10}));
    EXPECT_EQ(correlate(trace, box, 0, 1, 5), (std::vector<double>{6, 9, 12, 10, 8}));
    EXPECT_EQ(correlate(trace, box, 5, 1, 5), (std::vector<double>{6, 9, 12, 10, 8}));
    EXPECT_EQ(correlate(trace, box, 1, 6, 1), (std::vector<double>{8}));
}

TEST(Cdotx, ShorterTraceExchangesTheRoles)
{
    const std::vector<double> trace = {1, 2, 3}, filter = {1, 10, 100, 1000, 10000};
    EXPECT_EQ(correlate(trace, filter, 1, 2, 3), (std::vector<double>{10032, 3210, 21003}));
    // Equal lengths keep the trace circular.
    const std::vector<double> left = {1, 2, 3}, right = {10, 100, 1000};
    EXPECT_EQ(correlate(left, right, 0, 1, 3), (std::vector<double>{3210, 1320, 2130}));
}

TEST(Cdotx, EmptyOperands)
{
    const std::vector<double> four = {1, 2, 3, 4}, none;
    const auto zeros = correlate(none, four, 0, 1, 4);
    const auto two_zeros = correlate(four, none, 0, 3, 2);
    for (double value : zeros)
        EXPECT_TRUE(value == 0.0 && !std::signbit(value));
    for (double value : two_zeros)
        EXPECT_TRUE(value == 0.0 && !std::signbit(value));
    correlate(none, none, 0, 1, 0);
}

TEST(Cdotx, StepLargerThanTheTraceAndUnevenSteps)
{
    std::vector<double> trace(10);
    for (int i = 0; i < 10; ++i)
        trace[i] = i + 1;
    const std::vector<double> one = {1};
    EXPECT_EQ(correlate(trace, one, 0, 3, 4), (std::vector<double>{1, 4, 7, 10}));
    EXPECT_EQ(correlate(trace, one, 0, 11, 1), (std::vector<double>{1}));
    EXPECT_EQ(correlate(trace, one, 0, 0xffffffffu, 1), (std::vector<double>{1}));
}

TEST(Cdotx, PairsAreSummedInOrder)
{
    // Each pair sum rounds to +-1e16, so the ones vanish; left to right gives 1.
    const std::vector<double> trace = {1, 1e16, -1e16, 1}, ones = {1, 1, 1, 1};
    EXPECT_EQ(correlate(trace, ones, 0, 4, 1), (std::vector<double>{0}));
}

TEST(Cdotx, PairingRestartsAtTheWrap)
{
    const std::vector<double> trace = {1, 1e16, 1, -1e16, 1}, ones = {1, 1, 1, 1};
    EXPECT_EQ(correlate(trace, ones, 0, 1, 5), (std::vector<double>{0, 0, -1e16, 0, 1e16}));
}

TEST(Cdotx, StepZeroWritesNothing)
{
    const std::vector<double> trace = {1, 2, 3}, filter = {1};
    correlate(trace, filter, 0, 0, 0);
}

TEST(Cdotx, CentresOutsideTheTraceAreReducedModuloItsLength)
{
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> trace(37), filter(9);
    for (double &x : trace)
        x = value(rng);
    for (double &x : filter)
        x = value(rng);
    const std::int32_t centres[] = {INT32_MIN, INT32_MIN + 1, -1000001, -38, -37, -1,
                                    38,        74,            1000003,  INT32_MAX - 1, INT32_MAX};
    for (std::int32_t center : centres) {
        std::int64_t reduced = center % 37;
        if (reduced < 0)
            reduced += 37;
        for (std::uint32_t step : {1u, 4u}) {
            const std::size_t count = (37 + step - 1) / step;
            EXPECT_EQ(correlate(trace, filter, center, step, count),
                      correlate(trace, filter, static_cast<std::int32_t>(reduced), step, count))
                << "centre " << center << " step " << step;
        }
    }
}

TEST(Cdotx, RandomShapesAgreeWithTheDirectSum)
{
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-8, 8);
    for (int trial = 0; trial < 400; ++trial) {
        const auto signal_length = std::uniform_int_distribution<std::size_t>(0, 700)(rng);
        const auto filter_length = std::uniform_int_distribution<std::size_t>(0, 120)(rng);
        const bool exchange = trial % 5 == 0;
        std::vector<double> signal(exchange ? filter_length : signal_length);
        std::vector<double> filter(exchange ? signal_length : filter_length);
        for (double &x : signal)
            x = std::ldexp(value(rng), exponent(rng));
        for (double &x : filter)
            x = value(rng);
        const std::size_t n = std::max(signal.size(), filter.size());
        const auto step = std::uniform_int_distribution<std::uint32_t>(
            1, trial % 3 == 0 ? 1 : static_cast<std::uint32_t>(n + 3))(rng);
        const auto center = std::uniform_int_distribution<std::int32_t>(
            -3 * static_cast<std::int32_t>(n) - 5, 3 * static_cast<std::int32_t>(n) + 5)(rng);
        const Reference ref = direct(signal, filter, center, step);
        const auto output = correlate(signal, filter, center, step, ref.values.size());
        for (std::size_t j = 0; j < ref.values.size(); ++j)
            ASSERT_NEAR(output[j], ref.values[j], ref.bounds[j])
                << "trial " << trial << " output " << j << " n " << n << " step " << step
                << " centre " << center;
    }
}

} // namespace
