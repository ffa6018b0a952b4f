// The moving kurtosis's vector lanes, each path on the same data in the same
// process, so that their times compare directly.
//
// traces_in_lanes: 16 traces of 2 * 10^5 samples of noise,
// w = 128, one thread: the batch on each path (0 plain, i.e. one
// trace_movkurtosis call per trace, 1 SSE2, 2 AVX2, 3 AVX-512).
// recomputations_ahead: one trace of 10^6 samples (0 noise with w = 16, 1 a
// sine of period 2000 with w = 1024, where 7.6 % of the outputs are
// recomputed) with its recomputations on each path.
#include "kurtosis/lane_paths.h"
#include "kurtosis/moving_kurtosis.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using onset::simd::Isa;

std::vector<double> noise(std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 bits(seed);
    std::normal_distribution<double> normal;
    std::vector<double> samples(n);
    for (double &x : samples)
        x = normal(bits);
    return samples;
}

void per_sample(benchmark::State &state, double samples)
{
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * samples,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void traces_in_lanes(benchmark::State &state)
{
    const auto path = static_cast<Isa>(state.range(0));
    if (!onset::simd::runs(path)) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const std::uint32_t traces = 16, n = 200000;
    std::vector<std::vector<double>> inputs, outputs;
    std::vector<const double *> in;
    std::vector<double *> out;
    for (std::uint32_t t = 0; t < traces; ++t) {
        inputs.push_back(noise(n, 20 + t));
        outputs.emplace_back(n);
    }
    for (std::uint32_t t = 0; t < traces; ++t) {
        in.push_back(inputs[t].data());
        out.push_back(outputs[t].data());
    }
    const std::vector<std::uint32_t> lengths(traces, n), windows(traces, 128);
    const TraceBatch batch{in.data(), out.data(), lengths.data(), windows.data(), traces};
    for (auto _ : state) {
        onset::kurtosis::movkurtosis_block(batch, 0, traces, path);
        benchmark::ClobberMemory();
    }
    per_sample(state, double(traces) * n);
}
BENCHMARK(traces_in_lanes)->ArgName("path")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

void recomputations_ahead(benchmark::State &state)
{
    const auto path = static_cast<Isa>(state.range(0));
    if (!onset::simd::runs(path)) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const std::uint32_t n = 1000000;
    const bool sine = state.range(1) != 0;
    const std::uint32_t w = sine ? 1024 : 16;
    std::vector<double> input = noise(n, 1), output(n);
    if (sine)
        for (std::uint32_t k = 0; k < n; ++k)
            input[k] = std::sin(2.0 * M_PI * k / 2000.0);
    for (auto _ : state) {
        onset::kurtosis::moving_kurtosis(output.data(), input.data(), n, w, path);
        benchmark::ClobberMemory();
    }
    per_sample(state, n);
}
BENCHMARK(recomputations_ahead)->ArgNames({"path", "sine"})->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
