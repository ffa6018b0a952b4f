// The engine's band-pass per output sample: the direct correlation through
// the library's cdotx_dd against the FFT blocks, on the same noise at 100 Hz
// (205 taps), 150, 200 and 1000 Hz, in one process so that their times
// compare directly: where they cross is where the engine switches.
//
// Arguments: rate (Hz), fft (0 direct, 1 FFT blocks).
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "noise.h"
#include "onset.h"
#include "onset_detect.h"
#include "settings.h"

namespace {

constexpr int64_t outputs = 1 << 20;

void BM_BandPass(benchmark::State &state)
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    const detect::RateSettings settings(options, static_cast<double>(state.range(0)));
    const detect::BandPassBlocks blocks(settings.filter.kernel);
    const int64_t taps = blocks.kernel_length(), step = blocks.block_outputs();
    const int64_t block_count = (outputs + step - 1) / step;
    const std::vector<double> input = onset_test::normal_noise(static_cast<size_t>(block_count * step + taps), 1);
    std::vector<double> output(static_cast<size_t>(block_count * step + taps));
    const bool fft = state.range(1) != 0;
    for (auto _ : state) {
        if (fft) {
            for (int64_t b = 0; b < block_count; ++b)
                blocks.correlate(input.data() + b * step, output.data() + b * step);
        } else {
            cdotx_dd(output.data(), input.data(), static_cast<uint32_t>(outputs + taps - 1),
                     settings.filter.kernel.data(), static_cast<uint32_t>(taps), 0, 1);
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.counters["taps"] = static_cast<double>(taps);
    state.counters["block_outputs"] = static_cast<double>(step);
    const double given = static_cast<double>(fft ? block_count * step : outputs);
    state.counters["ns_per_output"] = benchmark::Counter(given * static_cast<double>(state.iterations()) * 1e-9,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_BandPass)
    ->ArgNames({"rate", "fft"})
    ->ArgsProduct({{100, 150, 200, 1000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
