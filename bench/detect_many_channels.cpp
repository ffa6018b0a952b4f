// Memory of the engine's grouping on a very large network: N channels (by
// default 10,000), each 60 s of noise with one arrival at 30 s (moveout up
// to 0.5 s), so that every channel's pick lands in one event. Prints the
// events found, the time taken and the peak resident memory.
//   detect_many_channels [N]
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <omp.h>

#include "onset_detect.h"

int main(int argc, char **argv)
{
    const int channels = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int samples = 6000, arrival = 3000;
    const int64_t start = 1704067200LL * 1000000;
    onset_detect_options options;
    onset_detect_defaults(&options);
    options.min_stations = 3;
    omp_set_max_active_levels(1);
    onset_detector *detector = onset_detector_create(&options, nullptr, 0);
    for (int c = 0; c < channels; ++c) {
        char id[32];
        std::snprintf(id, sizeof id, "XX.S%05d..HHZ", c);
        onset_detector_add_channel(detector, id, 100.0);
    }
    const auto begin = std::chrono::steady_clock::now();
    // Channels are fed side by side, as onset-detect does.
#pragma omp parallel for schedule(dynamic, 64)
    for (int c = 0; c < channels; ++c) {
        std::mt19937_64 random(static_cast<uint64_t>(c));
        std::normal_distribution<double> normal;
        std::vector<double> trace(samples);
        const int onset = arrival + c % 50;
        for (int i = 0; i < samples; ++i) {
            const double t = (i - onset) / 100.0;
            trace[static_cast<size_t>(i)] = normal(random) + (t >= 0.0 ? 40.0 * std::sin(50.0 * t) * std::exp(-4.0 * t) : 0.0);
        }
        onset_detector_feed(detector, c, start, trace.data(), trace.size());
    }
    onset_detector_flush(detector);
    int events = 0, largest = 0;
    onset_event event;
    while (onset_detector_next_event(detector, &event) == 1) {
        ++events;
        largest = std::max(largest, event.pick_count);
    }
    onset_detector_destroy(detector);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d channels: %d event(s), the largest with %d picks, %.2f s, peak memory %.0f MiB\n", channels, events,
                largest, seconds, static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
