// The samples' way into a channel: gaps and flat lines found over whole
// stretches against a sample-by-sample rule, and the look-back store
// against plain arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "flat_lines.h"
#include "lookback_store.h"

namespace {

// The samples let through, by index.
struct Used {
    std::vector<std::pair<int64_t, double>> samples;
    void values(int64_t first, const double *x, size_t n)
    {
        for (size_t i = 0; i < n; ++i) samples.emplace_back(first + static_cast<int64_t>(i), x[i]);
    }
    void repeated(int64_t first, double value, size_t n)
    {
        for (size_t i = 0; i < n; ++i) samples.emplace_back(first + static_cast<int64_t>(i), value);
    }
};

TEST(DetectIntake, FlatLinesAndMissingSamplesMatchASampleBySampleRule)
{
    std::mt19937_64 random(3);
    const double inf = std::numeric_limits<double>::infinity();
    for (int trial = 0; trial < 40; ++trial) {
        const int64_t shortest = 2 + static_cast<int64_t>(random() % 25);
        // Noise with runs of every length around `shortest`, zeros of both
        // signs, infinities and NaN.
        std::vector<double> x;
        while (x.size() < 5000) {
            const auto kind = random() % 10;
            const size_t length = kind < 3 ? 1 + random() % static_cast<size_t>(2 * shortest) : 1;
            double v = static_cast<double>(random() % 2000) - 1000.0;
            if (kind == 3) v = (random() % 2) ? -0.0 : 0.0;
            if (kind == 4) v = (random() % 2) ? inf : std::nan("");
            x.insert(x.end(), length, v);
        }
        // The rule: a run of `shortest` or more equal finite samples is a
        // gap, and so is every sample that is not finite; a shorter run is
        // used as its first value (0 and -0 are one run).
        std::vector<std::pair<int64_t, double>> expected;
        uint64_t expected_missing = 0;
        for (size_t i = 0; i < x.size();) {
            if (!std::isfinite(x[i])) {
                ++expected_missing, ++i;
                continue;
            }
            size_t j = i;
            while (j < x.size() && x[j] == x[i]) ++j;
            if (static_cast<int64_t>(j - i) >= shortest) expected_missing += j - i;
            else
                for (size_t k = i; k < j; ++k) expected.emplace_back(1000 + static_cast<int64_t>(k), x[i]);
            i = j;
        }
        detect::FlatLines flat_lines(shortest);
        Used used;
        uint64_t missing = 0;
        for (size_t i = 0; i < x.size();) {
            const size_t n = std::min<size_t>(x.size() - i, 1 + random() % 300);
            missing += flat_lines.take(1000 + static_cast<int64_t>(i), x.data() + i, n, used);
            i += n;
        }
        flat_lines.flush(used);
        EXPECT_EQ(missing, expected_missing) << "trial " << trial;
        ASSERT_EQ(used.samples.size(), expected.size()) << "trial " << trial;
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(used.samples[i].first, expected[i].first) << "trial " << trial;
            ASSERT_EQ(std::signbit(used.samples[i].second), std::signbit(expected[i].second));
            ASSERT_EQ(used.samples[i].second, expected[i].second);
        }
    }
}

TEST(DetectIntake, StoreKeepsEveryColumnWhileItMovesAndGrows)
{
    std::mt19937_64 random(8);
    detect::LookbackStore store(3, 64);
    const auto value = [](size_t column, int64_t index) { return static_cast<double>(index) * 3.0 + static_cast<double>(column); };
    store.reset(-500);
    int64_t kept_from = -500;
    for (int step = 0; step < 2000; ++step) {
        // Appends up to 100 indices, most often few; keeps a random tail.
        const int64_t end = store.end() + static_cast<int64_t>(random() % (step % 50 == 0 ? 100 : 20));
        const int64_t from = store.end();
        store.extend_to(end);
        for (size_t c = 0; c < 3; ++c)
            for (int64_t i = from; i < end; ++i) *store.at(static_cast<detect::Column>(c), i) = value(c, i);
        kept_from = std::max(kept_from, end - static_cast<int64_t>(random() % 150));
        store.trim_before(kept_from);
        ASSERT_EQ(store.begin(), std::min(kept_from, store.end()));
        for (size_t c = 0; c < 3; ++c)
            for (int64_t i = store.begin(); i < store.end(); ++i)
                ASSERT_EQ(store.value(static_cast<detect::Column>(c), i), value(c, i)) << step << " " << c << " " << i;
    }
    // It grew, but only as far as the most ever held needs.
    EXPECT_GE(store.capacity(), 128u);
    EXPECT_LE(store.capacity(), 512u);
}

}  // namespace
