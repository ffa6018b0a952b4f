// Moving max-jump of one trace of 10^6 samples, single-threaded, against a
// plain sliding pair of extreme indices that rescans the whole window when an
// extreme leaves it. Both run on the same traces in the same process, so
// their times compare directly.
//
// Arguments: method (0 library, 1 rescanning pair), trace (0 white noise,
// 1 sine with a period of 2000 samples), window. Times are CPU times, as the
// run is single-threaded and the machine may be shared; ns_per_sample is the
// CPU time of one call over the trace length.
#include <cmath>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <omp.h>

#include "noise.h"
#include "onset.h"

namespace {

constexpr std::uint32_t trace_length = 1000000;

const std::vector<double> &trace(int kind)
{
    static const std::vector<double> noise = onset_test::normal_noise(trace_length, 1);
    static const std::vector<double> sine = [] {
        std::vector<double> x(trace_length);
        const double step = 2.0 * std::acos(-1.0) / 2000.0;
        for (std::uint32_t i = 0; i < trace_length; ++i)
            x[i] = std::sin(step * i);
        return x;
    }();
    return kind == 0 ? noise : sine;
}

// The rescanning pair: window of k from k - w/2 to k + (w+1)/2 - 1, clipped.
struct Pair {
    const double *x;
    std::uint32_t imax, imin;

    void scan(std::uint32_t a, std::uint32_t b)
    {
        imax = imin = a;
        for (std::uint32_t j = a + 1; j <= b; ++j) {
            if (x[j] < x[imin])
                imin = j;
            else if (x[j] > x[imax])
                imax = j;
        }
    }
    void rescan_max(std::uint32_t a, std::uint32_t b)
    {
        imax = a;
        for (std::uint32_t j = a + 1; j <= b; ++j)
            if (x[j] > x[imax])
                imax = j;
    }
    void rescan_min(std::uint32_t a, std::uint32_t b)
    {
        imin = a;
        for (std::uint32_t j = a + 1; j <= b; ++j)
            if (x[j] < x[imin])
                imin = j;
    }
    double jump() const { return imin <= imax ? x[imax] - x[imin] : x[imin] - x[imax]; }
};

void rescanning_movmxjump(double *output, const double *input, std::uint32_t n, std::uint32_t w)
{
    const std::uint32_t h = (w + 1) >> 1, d = w - h;
    Pair p{input, 0, 0};
    p.scan(0, h - 1);
    output[0] = p.jump();
    for (std::uint32_t k = 1; k < d; ++k) {
        const std::uint32_t b = k + h - 1;
        if (input[b] < input[p.imin])
            p.imin = b;
        else if (input[b] > input[p.imax])
            p.imax = b;
        output[k] = p.jump();
    }
    p.scan(0, w - 1);
    output[d] = p.jump();
    for (std::uint32_t k = d + 1; k <= n - h; ++k) {
        const std::uint32_t a = k - d, b = k + h - 1;
        if (p.imax < a)
            p.rescan_max(a, b);
        else if (input[b] > input[p.imax])
            p.imax = b;
        if (p.imin < a)
            p.rescan_min(a, b);
        else if (input[b] < input[p.imin])
            p.imin = b;
        output[k] = p.jump();
    }
    for (std::uint32_t k = n - d; k < n; ++k) {
        const std::uint32_t a = k - d;
        if (p.imax < a)
            p.rescan_max(a, n - 1);
        if (p.imin < a)
            p.rescan_min(a, n - 1);
        output[k] = p.jump();
    }
}

void BM_movmxjump(benchmark::State &state)
{
    const bool rescanning = state.range(0) == 1;
    const std::vector<double> &input = trace(static_cast<int>(state.range(1)));
    const auto w = static_cast<std::uint32_t>(state.range(2));
    std::vector<double> output(trace_length);
    omp_set_num_threads(1);
    for (auto _ : state) {
        if (rescanning)
            rescanning_movmxjump(output.data(), input.data(), trace_length, w);
        else
            trace_movmxjump(output.data(), input.data(), trace_length, w);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    // Both methods must agree, or the comparison means nothing.
    std::vector<double> library(trace_length);
    trace_movmxjump(library.data(), input.data(), trace_length, w);
    if (library != output)
        state.SkipWithError("the methods disagree");
    state.SetLabel(std::string(rescanning ? "rescanning" : "library") +
                   (state.range(1) == 0 ? " noise" : " sine"));
    state.counters["ns_per_sample"] = benchmark::Counter(
        1e-9 * trace_length, benchmark::Counter::kIsIterationInvariantRate |
                                 benchmark::Counter::kInvert);
}

BENCHMARK(BM_movmxjump)
    ->ArgNames({"method", "trace", "w"})
    ->ArgsProduct({{0, 1}, {0, 1}, {4, 16, 128, 1024, 8192}})
    ->Unit(benchmark::kMillisecond);

} // namespace
