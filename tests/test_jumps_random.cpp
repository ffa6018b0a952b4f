// The moving max-jump against a direct scan of every window, on random
// traces of several kinds, for many widths and thread counts.
#include "onset.h"
#include "sample_bits.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using onset_test::bits_of;

const double nan_value = std::numeric_limits<double>::quiet_NaN();

// Output k straight from the definition: scan the window, the first extremes
// win, the later one minus the earlier one; NaN when the window holds one.
double direct_jump(const std::vector<double> &input, uint32_t window, std::size_t k)
{
    if (window == 0)
        return nan_value;
    const std::size_t n = input.size();
    const std::size_t forward = (std::size_t(window) + 1) / 2;
    const std::size_t back = window - forward;
    const std::size_t lo = k >= back ? k - back : 0;
    const std::size_t hi = std::min(n - 1, k + forward - 1);
    std::size_t imax = lo, imin = lo;
    for (std::size_t j = lo; j <= hi; ++j) {
        if (std::isnan(input[j]))
            return nan_value;
        if (input[j] > input[imax])
            imax = j;
        if (input[j] < input[imin])
            imin = j;
    }
    const double jump = imin <= imax ? input[imax] - input[imin] : input[imin] - input[imax];
    return std::isnan(jump) ? nan_value : jump;
}

enum class Kind { noise, small_integers, monotone_runs, flat_stretches };

std::vector<double> random_trace(Kind kind, std::size_t n, double nan_rate, std::mt19937_64 &rng)
{
    std::normal_distribution<double> normal;
    std::uniform_int_distribution<int> small(0, 3);
    std::uniform_int_distribution<int> run(1, 60);
    std::uniform_real_distribution<double> unit;
    std::vector<double> trace(n);
    double level = 0;
    for (std::size_t i = 0; i < n;) {
        switch (kind) {
        case Kind::noise:
            trace[i++] = normal(rng);
            break;
        case Kind::small_integers:
            trace[i++] = small(rng);
            break;
        case Kind::monotone_runs: {
            const double step = unit(rng) < 0.5 ? 1.0 : -1.0;
            for (int r = run(rng); r > 0 && i < n; --r)
                trace[i++] = level += step * (unit(rng) < 0.1 ? 0.0 : 1.0);
            break;
        }
        case Kind::flat_stretches:
            level = small(rng);
            for (int r = run(rng); r > 0 && i < n; --r)
                trace[i++] = level;
            break;
        }
    }
    for (double &v : trace)
        if (unit(rng) < nan_rate)
            v = nan_value;
    return trace;
}

// A second computation, fast enough to check every output of a long trace:
// sparse tables of first-occurrence extremes over power-of-two stretches; a
// window is two overlapping stretches, the earlier one winning ties. NaN
// wherever a window holds one, counted apart.
std::vector<double> sparse_table_reference(const std::vector<double> &input, uint32_t window)
{
    const std::size_t n = input.size();
    std::vector<std::vector<std::size_t>> max_at{std::vector<std::size_t>(n)}, min_at;
    for (std::size_t j = 0; j < n; ++j)
        max_at[0][j] = j;
    min_at = max_at;
    for (std::size_t half = 1; 2 * half <= n; half *= 2) {
        const std::vector<std::size_t> &mx = max_at.back(), &mn = min_at.back();
        std::vector<std::size_t> next_max(n - 2 * half + 1), next_min(next_max.size());
        for (std::size_t j = 0; j < next_max.size(); ++j) {
            next_max[j] = input[mx[j + half]] > input[mx[j]] ? mx[j + half] : mx[j];
            next_min[j] = input[mn[j + half]] < input[mn[j]] ? mn[j + half] : mn[j];
        }
        max_at.push_back(std::move(next_max));
        min_at.push_back(std::move(next_min));
    }
    std::vector<std::size_t> nan_before(n + 1, 0);
    for (std::size_t j = 0; j < n; ++j)
        nan_before[j + 1] = nan_before[j] + (std::isnan(input[j]) ? 1 : 0);
    const std::size_t forward = (std::size_t(window) + 1) / 2;
    const std::size_t back = window - forward;
    std::vector<double> output(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t lo = k >= back ? k - back : 0;
        const std::size_t hi = std::min(n - 1, k + forward - 1);
        std::size_t level = 0;
        while (std::size_t(2) << level <= hi - lo + 1)
            ++level;
        const std::size_t other = hi + 1 - (std::size_t(1) << level);
        const std::size_t a = max_at[level][lo], b = max_at[level][other];
        const std::size_t c = min_at[level][lo], d = min_at[level][other];
        const std::size_t imax = input[b] > input[a] ? b : a;
        const std::size_t imin = input[d] < input[c] ? d : c;
        const double jump = imin <= imax ? input[imax] - input[imin] : input[imin] - input[imax];
        const bool holds_nan = nan_before[hi + 1] != nan_before[lo];
        output[k] = holds_nan || std::isnan(jump) ? nan_value : jump;
    }
    return output;
}

// Compares every output with the direct scan of its window, bit for bit; on
// long traces with wide windows, every output with the sparse tables and a
// random selection plus both ends with the direct scan.
void expect_direct(const std::vector<double> &input, uint32_t window, std::mt19937_64 &rng)
{
    const std::size_t n = input.size();
    std::vector<double> output(n, -1.0);
    trace_movmxjump(output.data(), input.data(), static_cast<uint32_t>(n), window);
    std::vector<std::size_t> checked;
    if (n * std::min<std::size_t>(window, n) <= 2000000) {
        for (std::size_t k = 0; k < n; ++k)
            checked.push_back(k);
    } else {
        std::uniform_int_distribution<std::size_t> any(0, n - 1);
        for (std::size_t k = 0; k < 40; ++k)
            checked.insert(checked.end(), {k, n - 1 - k});
        for (int i = 0; i < 300; ++i)
            checked.push_back(any(rng));
        const std::vector<double> expected = sparse_table_reference(input, window);
        int failures = 0;
        for (std::size_t k = 0; k < n; ++k)
            if (bits_of(expected[k]) != bits_of(output[k]) && ++failures <= 5)
                ADD_FAILURE() << "n " << n << " w " << window << " k " << k
                              << ": sparse tables give " << expected[k] << ", got "
                              << output[k];
    }
    int failures = 0;
    for (std::size_t k : checked) {
        const double expected = direct_jump(input, window, k);
        if (bits_of(expected) != bits_of(output[k]) && ++failures <= 5)
            ADD_FAILURE() << "n " << n << " w " << window << " k " << k << ": expected "
                          << expected << " got " << output[k];
    }
}

const Kind all_kinds[] = {Kind::noise, Kind::small_integers, Kind::monotone_runs,
                          Kind::flat_stretches};

TEST(MovmxjumpRandom, EveryWidthOnShortTraces)
{
    std::mt19937_64 rng(11);
    for (Kind kind : all_kinds)
        for (double nan_rate : {0.0, 0.03})
            for (std::size_t n = 1; n <= 45; ++n) {
                const std::vector<double> trace = random_trace(kind, n, nan_rate, rng);
                for (uint32_t w = 1; w <= n + 3; ++w)
                    expect_direct(trace, w, rng);
            }
}

TEST(MovmxjumpRandom, SpreadOfWidthsOnLongTraces)
{
    std::mt19937_64 rng(12);
    for (Kind kind : all_kinds)
        for (double nan_rate : {0.0, 0.0005})
            for (std::size_t n : {3001u, 40000u}) {
                const std::vector<double> trace = random_trace(kind, n, nan_rate, rng);
                for (std::size_t w : {1u, 2u, 3u, 4u, 5u, 16u, 33u, 128u, 999u, 1024u, 2999u,
                                      3000u, 3001u, 3002u, 8192u, 39999u, 40000u})
                    if (w <= n + 1)
                        expect_direct(trace, static_cast<uint32_t>(w), rng);
            }
}

TEST(MovmxjumpRandom, SameBitsForAnyThreadCount)
{
    std::mt19937_64 rng(13);
    const int default_threads = omp_get_max_threads();
    for (Kind kind : all_kinds)
        for (std::size_t n : {7u, 40u, 5000u}) {
            const std::vector<double> trace = random_trace(kind, n, 0.002, rng);
            // Up to more threads than full windows, so that some stay idle.
            for (int threads : {1, 2, 3, 4, 7, 13, 41})
                for (uint32_t w : {1u, 2u, 5u, 6u, 39u, 40u, 64u, 1000u}) {
                    if (w > n)
                        continue;
                    omp_set_num_threads(threads);
                    expect_direct(trace, w, rng);
                }
        }
    omp_set_num_threads(default_threads);
}

TEST(MovmxjumpRandom, InfiniteSamplesAreOrdinaryExtremes)
{
    std::mt19937_64 rng(14);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> trace = random_trace(Kind::small_integers, 300, 0.0, rng);
    std::uniform_int_distribution<std::size_t> any(0, trace.size() - 1);
    for (int i = 0; i < 30; ++i)
        trace[any(rng)] = i % 2 ? inf : -inf;
    for (uint32_t w = 1; w <= 300; w += 7)
        expect_direct(trace, w, rng);
}

} // namespace
