// The SIMD paths of the correlation against the plain one, bit for bit, and
// every path and the exported entry against the reference vectors.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/correlation.h"
#include "golden.h"
#include "onset.h"

namespace {

using onset::filter::CorrelationPath;

struct Shape {
    std::size_t signal_length, filter_length;
    std::int32_t center;
    std::uint32_t step;
};

std::vector<double> run(CorrelationPath path, const std::vector<double> &signal,
                        const std::vector<double> &filter, const Shape &shape)
{
    const std::size_t n = std::max(signal.size(), filter.size());
    const std::size_t count = n == 0 ? 0 : (n - 1) / shape.step + 1;
    std::vector<double> output(count + 4, -5.0);
    onset::filter::correlate(output.data(), signal.data(),
                             static_cast<std::uint32_t>(signal.size()), filter.data(),
                             static_cast<std::uint32_t>(filter.size()), shape.center,
                             shape.step, path);
    return output;
}

// Values over a wide range of magnitudes, so that any change in the order
// of operations shows in the last bits; now and then a NaN or an infinity.
void fill(std::vector<double> &values, std::mt19937_64 &rng, bool specials)
{
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_int_distribution<int> rare(0, 999);
    for (double &x : values) {
        x = std::ldexp(mantissa(rng), exponent(rng));
        if (specials) {
            const int r = rare(rng);
            if (r == 0)
                x = std::numeric_limits<double>::quiet_NaN();
            else if (r == 1)
                x = -std::numeric_limits<double>::infinity();
        }
    }
}

void expect_same_outputs(const std::vector<double> &signal, const std::vector<double> &filter,
                         const Shape &shape, const char *what)
{
    const auto plain = run(CorrelationPath::plain, signal, filter, shape);
    for (CorrelationPath path : {CorrelationPath::sse2, CorrelationPath::avx2}) {
        if (!onset::filter::path_available(path))
            continue;
        const auto fast = run(path, signal, filter, shape);
        ASSERT_TRUE(onset_test::same_samples(plain, fast.data()))
            << what << ": path " << static_cast<int>(path) << ", n " << shape.signal_length << " m "
            << shape.filter_length << " centre " << shape.center << " step " << shape.step;
    }
}

TEST(CorrelationPaths, FastestIsAvailable)
{
    EXPECT_TRUE(onset::filter::path_available(CorrelationPath::plain));
    EXPECT_TRUE(onset::filter::path_available(onset::filter::fastest_path()));
}

TEST(CorrelationPaths, SmallShapesMatchThePlainPath)
{
    std::mt19937_64 rng(99);
    for (std::size_t n = 0; n <= 40; ++n)
        for (std::size_t m = 0; m <= n; m += 1 + m / 4)
            for (std::uint32_t step : {1u, 2u, 3u, 5u, 17u, 41u})
                for (std::int32_t center : {0, 1, static_cast<std::int32_t>(m / 2),
                                            static_cast<std::int32_t>(n), -3}) {
                    const Shape shape{n, m, center, step};
                    std::vector<double> signal(n), filter(m);
                    fill(signal, rng, false);
                    fill(filter, rng, false);
                    expect_same_outputs(signal, filter, shape, "small");
                    expect_same_outputs(filter, signal, shape, "small, exchanged");
                }
}

TEST(CorrelationPaths, RandomShapesMatchThePlainPath)
{
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const bool long_trace = trial % 4 == 0;
        const auto n = std::uniform_int_distribution<std::size_t>(
            1, long_trace ? 6000 : 500)(rng);
        const auto m = std::uniform_int_distribution<std::size_t>(
            0, std::min<std::size_t>(n, long_trace ? 400 : n))(rng);
        const auto step = std::uniform_int_distribution<std::uint32_t>(
            1, trial % 3 == 0 ? 1 : (trial % 3 == 1 ? 40 : static_cast<std::uint32_t>(n + 2)))(rng);
        const auto center = std::uniform_int_distribution<std::int32_t>(
            -2 * static_cast<std::int32_t>(n), 2 * static_cast<std::int32_t>(n))(rng);
        std::vector<double> signal(n), filter(m);
        fill(signal, rng, trial % 10 == 0);
        fill(filter, rng, false);
        const Shape shape{n, m, center, step};
        if (trial % 2 == 0)
            expect_same_outputs(signal, filter, shape, "random");
        else
            expect_same_outputs(filter, signal, shape, "random, exchanged");
    }
}

TEST(CorrelationPaths, KernelsMatchOnRunsOfEveryLength)
{
    // The stretch kernels alone, on runs that end in every position of a
    // SIMD block, and on the longest steps the tests can afford.
    std::mt19937_64 rng(3);
    std::vector<double> a(20000), b(64);
    fill(a, rng, false);
    fill(b, rng, false);
    for (std::uint64_t count = 0; count <= 40; ++count)
        for (std::uint64_t step : {1ull, 2ull, 7ull, 300ull})
            for (std::uint64_t m : {0ull, 1ull, 2ull, 13ull, 64ull}) {
                std::vector<double> plain(count + 1, 1.5), sse2(count + 1, 1.5),
                    avx2(count + 1, 1.5);
                onset::filter::stretches_plain(plain.data(), a.data() + 5, b.data(), m, step, count);
                onset::filter::stretches_sse2(sse2.data(), a.data() + 5, b.data(), m, step, count);
                ASSERT_EQ(plain, sse2) << "count " << count << " step " << step << " m " << m;
                if (onset::filter::path_available(CorrelationPath::avx2)) {
                    onset::filter::stretches_avx2(avx2.data(), a.data() + 5, b.data(), m, step,
                                                  count);
                    ASSERT_EQ(plain, avx2) << "count " << count << " step " << step << " m " << m;
                }
            }
}

// The reference vectors through the exported entry and on every path.
TEST(CorrelationPaths, GoldenVectorsOnEveryPathAndThroughTheEntry)
{
    ONSET_REQUIRE_GOLDEN();
    using namespace onset_test;
    for_each_golden_case("filterbank.txt", "cdotx_dd", [](const GoldenCase &c) {
        const auto signal = samples_from_hex(c.row("signal")->words);
        const auto filter = samples_from_hex(c.row("filter")->words);
        const auto expected = samples_from_hex(c.row("out")->words);
        ASSERT_EQ(signal.size(), std::stoul(c.head[1]));
        ASSERT_EQ(filter.size(), std::stoul(c.head[2]));
        const auto center = static_cast<std::int32_t>(std::stol(c.head[3]));
        const auto step = static_cast<std::uint32_t>(std::stoul(c.head[4]));
        const auto signal_length = static_cast<std::uint32_t>(signal.size());
        const auto filter_length = static_cast<std::uint32_t>(filter.size());
        // No path: the exported entry. Nothing may be written past the outputs.
        std::vector<double> guarded = expected;
        guarded.resize(expected.size() + 4, -5.0);
        const std::optional<CorrelationPath> ways[] = {
            std::nullopt, CorrelationPath::plain, CorrelationPath::sse2, CorrelationPath::avx2};
        for (const std::optional<CorrelationPath> &way : ways) {
            if (way && !onset::filter::path_available(*way))
                continue;
            std::vector<double> output(expected.size() + 4, -5.0);
            if (way)
                onset::filter::correlate(output.data(), signal.data(), signal_length,
                                         filter.data(), filter_length, center, step, *way);
            else
                cdotx_dd(output.data(), signal.data(), signal_length, filter.data(),
                         filter_length, center, step);
            EXPECT_TRUE(same_samples(guarded, output.data()))
                << (way ? "path " + std::to_string(static_cast<int>(*way)) : "the entry");
        }
    });
}

} // namespace
