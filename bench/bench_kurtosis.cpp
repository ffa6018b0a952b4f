// Moving kurtosis throughput: one long trace at several window widths, and a
// batch of traces on one and two threads.
#include "onset.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<double> normal_samples(std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 bits(seed);
    std::normal_distribution<double> normal;
    std::vector<double> samples(n);
    for (double &x : samples)
        x = normal(bits);
    return samples;
}

// 10^6 samples; argument: window width. Reports samples per second and
// ns_per_sample.
void trace_kurtosis(benchmark::State &state)
{
    const std::uint32_t n = 1000000;
    const auto w = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = normal_samples(n, 1);
    std::vector<double> output(n);
    for (auto _ : state) {
        trace_movkurtosis(output.data(), input.data(), n, w);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * n,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(trace_kurtosis)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// 64 traces of 10^5 samples, window 128; argument: number of threads.
void batch_kurtosis(benchmark::State &state)
{
    const std::uint32_t traces = 64;
    const std::uint32_t n = 100000;
    std::vector<std::vector<double>> inputs, outputs;
    std::vector<const double *> input_ptrs;
    std::vector<double *> output_ptrs;
    for (std::uint32_t t = 0; t < traces; ++t) {
        inputs.push_back(normal_samples(n, 10 + t));
        outputs.emplace_back(n);
    }
    for (std::uint32_t t = 0; t < traces; ++t) {
        input_ptrs.push_back(inputs[t].data());
        output_ptrs.push_back(outputs[t].data());
    }
    const std::vector<std::uint32_t> lengths(traces, n);
    const std::vector<std::uint32_t> windows(traces, 128);
    const TraceBatch batch{input_ptrs.data(), output_ptrs.data(), lengths.data(), windows.data(),
                           traces};
    const int saved = omp_get_max_threads();
    omp_set_num_threads(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        movkurtosis(&batch);
        benchmark::ClobberMemory();
    }
    omp_set_num_threads(saved);
    state.SetItemsProcessed(state.iterations() * traces * n);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * traces * n,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(batch_kurtosis)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
