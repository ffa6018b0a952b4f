// The engine's cost per station: a vertical alone against a station of
// three components (Z, N, E), an hour of 100 Hz noise with a local event
// every two minutes (the P strongest on the vertical, the S on the
// horizontals), fed in 10-minute slices as onset-detect feeds them, on one
// thread. Compare the two benchmarks' times: the ratio is what a
// three-component station costs over a vertical one.
#include <benchmark/benchmark.h>

#include <omp.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "onset_detect.h"

namespace {

constexpr double rate = 100.0;
constexpr size_t hour = 3600 * 100;
constexpr int64_t start = 1704067200LL * 1000000;

// One component: noise, and per event a P and 1.5 s later an S, each a
// decaying 8 Hz wave train, with the given amplitudes.
std::vector<double> component(uint64_t seed, double p_amplitude, double s_amplitude)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal;
    std::vector<double> x(hour);
    for (double &v : x) v = normal(random);
    for (size_t event = 6000; event + 3000 < hour; event += 12000)
        for (size_t i = 0; i < 2500; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double wave = std::sin(2 * M_PI * 8.0 * t) * std::exp(-t);
            x[event + i] += p_amplitude * wave;
            if (i >= 150) x[event + i] += s_amplitude * std::sin(2 * M_PI * 6.0 * (t - 1.5)) * std::exp(-(t - 1.5));
        }
    return x;
}

void run_station(benchmark::State &state, const std::vector<std::string> &ids,
                 const std::vector<std::vector<double>> &data)
{
    omp_set_num_threads(1);
    onset_detect_options options;
    onset_detect_defaults(&options);
    options.min_stations = 1;
    size_t events = 0;
    for (auto _ : state) {
        onset_detector *detector = onset_detector_create(&options, nullptr, 0);
        for (const std::string &id : ids) onset_detector_add_channel(detector, id.c_str(), rate);
        const size_t slice = 60000;
        onset_event event;
        for (size_t at = 0; at < hour; at += slice) {
            for (size_t c = 0; c < ids.size(); ++c)
                onset_detector_feed(detector, static_cast<int32_t>(c), start + static_cast<int64_t>(at) * 10000,
                                    data[c].data() + at, slice);
            onset_detector_advance(detector, start + static_cast<int64_t>(at + slice) * 10000);
            while (onset_detector_next_event(detector, &event) == 1) ++events;
        }
        onset_detector_flush(detector);
        while (onset_detector_next_event(detector, &event) == 1) ++events;
        onset_detector_destroy(detector);
    }
    state.counters["events"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kAvgIterations);
}

void VerticalStationHour(benchmark::State &state)
{
    static const std::vector<std::vector<double>> data{component(1, 40.0, 20.0)};
    run_station(state, {"XX.S01..HHZ"}, data);
}

void ThreeComponentStationHour(benchmark::State &state)
{
    static const std::vector<std::vector<double>> data{component(1, 40.0, 20.0), component(2, 15.0, 60.0),
                                                      component(3, 15.0, 60.0)};
    run_station(state, {"XX.S01..HHZ", "XX.S01..HHN", "XX.S01..HHE"}, data);
}

}  // namespace

BENCHMARK(VerticalStationHour)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(ThreeComponentStationHour)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
