// The filter bank on one trace of 10^5 samples: 24 Mexican-hat scales (first
// scale 2, 4 voices, base 2, lengths capped at 2049), at full rate and with
// steps of half the scale's octave start. Each path of the correlation runs
// on the same data in the same process, so their times compare directly.
//
// Arguments: path (0 plain, 1 SSE2, 2 AVX2), full_rate (1, or 0 for the
// decimated steps), threads.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <omp.h>

#include "filter/decomposition.h"
#include "noise.h"
#include "onset.h"

namespace {

constexpr std::uint32_t trace_length = 100000;
constexpr std::uint32_t voices = 4, groups = 6, scale_count = voices * groups;
constexpr double first_scale = 2.0, base = 2.0, step_fraction = 0.5;
constexpr std::uint32_t max_length = 2049;

struct Workload {
    std::vector<double> trace;
    std::vector<double> scales, wavelet_buffer;
    std::vector<double *> wavelets;
    std::vector<std::uint32_t> lengths, steps;
    std::vector<std::int32_t> centers;
    WaveletFamily family{};
    std::vector<std::vector<double>> coefficient_arrays;
    std::vector<double *> coefficients;
    std::vector<std::uint32_t> counts;
    WaveletDecomposition decomposition{};

    explicit Workload(bool full_rate)
        : trace(onset_test::normal_noise(trace_length, 1)), scales(scale_count), wavelets(scale_count),
          lengths(scale_count), steps(scale_count), centers(scale_count),
          coefficient_arrays(scale_count), coefficients(scale_count), counts(scale_count)
    {
        setscales0(scales.data(), scale_count, voices, first_scale, base);
        wavelet_buffer.resize(
            setwaveletlength0(lengths.data(), scales.data(), scale_count, max_length));
        setsampling0(steps.data(), scale_count, full_rate ? 1 : 0, voices, groups, first_scale,
                     base, step_fraction);
        wavelets[0] = wavelet_buffer.data();
        family = {wavelets.data(), scales.data(), lengths.data(), centers.data(), steps.data(),
                  0.0, 0.0, scale_count};
        FillWaveletFamily(&family);
        for (std::uint32_t i = 0; i < scale_count; ++i) {
            coefficient_arrays[i].resize((trace_length + steps[i] - 1) / steps[i]);
            coefficients[i] = coefficient_arrays[i].data();
        }
        decomposition = {coefficients.data(), counts.data(), 0};
    }
};

const Workload &workload(bool full_rate)
{
    static Workload full(true), decimated(false);
    return full_rate ? full : decimated;
}

void BM_FilterBank(benchmark::State &state)
{
    const auto path = static_cast<onset::filter::CorrelationPath>(state.range(0));
    if (!onset::filter::path_available(path)) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    Workload run = workload(state.range(1) != 0); // own output arrays
    run.decomposition.coefficients = run.coefficients.data();
    for (std::uint32_t i = 0; i < scale_count; ++i)
        run.coefficients[i] = run.coefficient_arrays[i].data();
    run.decomposition.lengths = run.counts.data();
    omp_set_num_threads(static_cast<int>(state.range(2)));
    for (auto _ : state) {
        const std::int32_t code = onset::filter::decompose(&run.decomposition, run.trace.data(),
                                                           trace_length, &run.family, path);
        benchmark::DoNotOptimize(code);
        benchmark::ClobberMemory();
    }
    std::uint64_t products = 0;
    for (std::uint32_t i = 0; i < scale_count; ++i)
        products += std::uint64_t{run.counts[i]} * run.lengths[i];
    state.counters["products_per_s"] = benchmark::Counter(
        static_cast<double>(products) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_FilterBank)
    ->ArgNames({"path", "full_rate", "threads"})
    ->ArgsProduct({{0, 1, 2}, {1, 0}, {1}})
    ->Args({0, 1, 2})
    ->Args({2, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
