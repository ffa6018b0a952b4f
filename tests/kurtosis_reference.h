// Independent truth for the moving-kurtosis suites: each window computed on
// its own, two passes in long double, and seeded integer traces (normal
// noise comes from the support's noise.h).
#pragma once

#include "noise.h"
#include "onset.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kurtosis_test {

struct Window {
    std::uint32_t lo;
    std::uint32_t hi; // inclusive
    std::uint32_t count() const { return hi - lo + 1; }
};

// The window of output i: w samples ending h = w / 2 after i, clipped to the
// trace (w >= 1).
inline Window window_of(std::uint32_t i, std::uint32_t n, std::uint32_t w)
{
    const std::int64_t h = w / 2;
    const std::int64_t lo = std::max<std::int64_t>(0, i + h - w + 1);
    const std::int64_t hi = std::min<std::int64_t>(std::int64_t{n} - 1, i + h);
    return {static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi)};
}

// Output i comes after a sample has left its window and none has entered:
// the running sums were updated without the plausibility guard.
inline bool shrinking(std::uint32_t i, std::uint32_t n, std::uint32_t w)
{
    return window_of(i, n, w).lo > 0 && std::uint64_t{i} + w / 2 >= n;
}

struct Moments {
    long double s2;
    long double kurtosis; // N S4 / S2^2, NaN without spread
};

inline Moments direct_moments(const std::vector<double> &in, Window win)
{
    long double sum = 0;
    for (std::uint32_t k = win.lo; k <= win.hi; ++k)
        sum += in[k];
    const long double n = win.count();
    const long double mean = sum / n;
    long double s2 = 0;
    long double s4 = 0;
    for (std::uint32_t k = win.lo; k <= win.hi; ++k) {
        const long double d = in[k] - mean;
        s2 += d * d;
        s4 += d * d * d * d;
    }
    const long double k = s2 == 0 ? std::numeric_limits<long double>::quiet_NaN()
                                  : n * s4 / (s2 * s2);
    return {s2, k};
}

inline std::vector<double> movkurtosis_of(const std::vector<double> &in, std::uint32_t w)
{
    std::vector<double> out(in.size());
    trace_movkurtosis(out.data(), in.data(), static_cast<std::uint32_t>(in.size()), w);
    return out;
}

// Outputs that differ from the per-window kurtosis by more than `tolerance`
// (relative), as a readable list; empty when all agree. Windows without
// spread are skipped (the running sums may leave a residue quotient there),
// and so are shrinking-phase windows whose spread is small against the
// trace's largest: nothing guards that phase's drift.
inline std::string mismatches(const std::vector<double> &in, const std::vector<double> &out,
                              std::uint32_t w, double tolerance)
{
    const auto n = static_cast<std::uint32_t>(in.size());
    std::vector<Moments> truth(n);
    long double peak_s2 = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        truth[i] = direct_moments(in, window_of(i, n, w));
        peak_s2 = std::max(peak_s2, truth[i].s2);
    }
    std::ostringstream report;
    report.precision(17);
    for (std::uint32_t i = 0; i < n; ++i) {
        const Moments &m = truth[i];
        if (std::isnan(m.kurtosis))
            continue;
        if (shrinking(i, n, w) && m.s2 < 1e-3L * peak_s2)
            continue;
        const long double error = std::fabs(out[i] - m.kurtosis) / m.kurtosis;
        if (!(error <= tolerance) && report.tellp() < 400)
            report << " out[" << i << "]=" << out[i] << " want " << m.kurtosis;
    }
    return report.str();
}

// Small integers: windows without spread are common and their sums exact.
inline std::vector<double> integer_trace(std::size_t n, std::uint64_t seed, int values)
{
    std::mt19937_64 bits(seed);
    std::uniform_int_distribution<int> pick(0, values - 1);
    std::vector<double> trace(n);
    for (double &x : trace)
        x = pick(bits);
    return trace;
}

} // namespace kurtosis_test
