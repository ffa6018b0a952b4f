// Moving kurtosis throughput: one long trace at several window widths, and a
// batch of traces on one and two threads.
#include "noise.h"
#include "onset.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <vector>

namespace {

using TraceFunction = void (*)(double *, const double *, std::uint32_t, std::uint32_t);

// One trace of 10^6 samples; state.range(0): window width. Reports samples
// per second and ns_per_sample.
void time_one_trace(benchmark::State &state, TraceFunction moving_kurtosis)
{
    const std::uint32_t n = 1000000;
    const auto w = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = onset_test::normal_noise(n, 1);
    std::vector<double> output(n);
    for (auto _ : state) {
        moving_kurtosis(output.data(), input.data(), n, w);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * n,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void trace_kurtosis(benchmark::State &state) { time_one_trace(state, trace_movkurtosis); }
BENCHMARK(trace_kurtosis)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The baseline: the sliding update written out plainly, with its plausibility
// test and recomputation but nothing else (no short-trace or non-finite
// handling), over the same trace. It shows what the formulas cost on this
// machine; the library should come close to it.
void slide_plainly(double *out, const double *in, std::uint32_t n, std::uint32_t w)
{
    const std::uint32_t h = w >> 1;
    const double wd = w, rw = 1.0 / wd, rw1 = 1.0 / (wd + 1.0);
    const double p = wd * (wd - 1.0) + 1.0, q = wd - 1.0;
    double s1 = 0.0;
    for (std::uint32_t k = 0; k < w; ++k)
        s1 += in[k];
    double s2 = 0.0, s3 = 0.0, s4 = 0.0;
    auto recompute = [&](std::uint32_t first, double mean) {
        s2 = s3 = s4 = 0.0;
        for (std::uint32_t k = first; k < first + w; ++k) {
            const double d = in[k] - mean, dd = d * d;
            s2 += dd;
            s3 += d * dd;
            s4 += dd * dd;
        }
    };
    recompute(0, s1 / wd);
    double mean = rw * s1;
    for (std::uint32_t j = 0; j + w < n; ++j) {
        const double x = in[j + w], y = in[j];
        const double mean_p = (x + s1) * rw1;
        const double ap = ((wd * x - s1) * rw1) * rw;
        const double s1n = s1 + (x - y);
        const double mean_n = rw * s1n;
        const double tp = (x - mean) * (x - mean_p);
        const double tm = (y - mean_p) * (y - mean_n);
        const double am = ((y * wd - s1n) * rw1) * rw;
        const double s4p = s4 + (((6.0 * s2) * ap + s3 * -4.0) + (ap * tp) * p) * ap;
        const double s2n = s2 + (tp - tm);
        const double s3p = s3 + (s2 * -3.0 + q * tp) * ap;
        const double s3n = s3p - (s2n * -3.0 + q * tm) * am;
        const double s4n = s4p - ((s3n * -4.0 + (6.0 * s2n) * am) + (tm * am) * p) * am;
        const double k = (wd * s4n) / (s2n * s2n);
        if ((k >= 1.5 && k <= 15.0) || k != k) {
            out[w - h + j] = k;
            s2 = s2n;
            s3 = s3n;
            s4 = s4n;
        } else {
            recompute(j + 1, mean_n);
            out[w - h + j] = (wd * s4) / (s2 * s2);
        }
        s1 = s1n;
        mean = mean_n;
    }
}

void plain_sliding_baseline(benchmark::State &state) { time_one_trace(state, slide_plainly); }
BENCHMARK(plain_sliding_baseline)->Arg(16)->Arg(128)->Arg(1024)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// 64 traces of 10^5 samples, window 128; argument: number of threads.
void batch_kurtosis(benchmark::State &state)
{
    const std::uint32_t traces = 64;
    const std::uint32_t n = 100000;
    std::vector<std::vector<double>> inputs, outputs;
    std::vector<const double *> input_ptrs;
    std::vector<double *> output_ptrs;
    for (std::uint32_t t = 0; t < traces; ++t) {
        inputs.push_back(onset_test::normal_noise(n, 10 + t));
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
