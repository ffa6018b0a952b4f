#include "synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace detect {

namespace {

const double pi = 3.14159265358979323846;
const double rate = 100.0;
const Microseconds start_time = 1704067200LL * 1000000;  // 2024-01-01T00:00:00Z
const double noise_level = 100.0;                         // counts, standard deviation

// splitmix64 with Box-Muller: the same numbers on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    double normal()
    {
        if (has_spare_) { has_spare_ = false; return spare_; }
        const double u = 1.0 - uniform(), v = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u));
        spare_ = radius * std::sin(2.0 * pi * v);
        has_spare_ = true;
        return radius * std::cos(2.0 * pi * v);
    }

private:
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint64_t state_;
    double spare_ = 0.0;
    bool has_spare_ = false;
};

struct Point {
    double x, y, z;  // km
};

// A wavelet that starts at t = 0 with a steep first swing and decays.
void add_wave(std::vector<double> &samples, double arrival_seconds, double amplitude,
              double frequency, double decay)
{
    const double length = 8.0 * decay;
    const size_t first = static_cast<size_t>(std::max(0.0, std::ceil(arrival_seconds * rate)));
    const size_t last = std::min(samples.size(), static_cast<size_t>((arrival_seconds + length) * rate));
    for (size_t i = first; i < last; ++i) {
        const double t = static_cast<double>(i) / rate - arrival_seconds;
        samples[i] += amplitude * std::sin(2.0 * pi * frequency * t) * std::exp(-t / decay);
    }
}

}  // namespace

SyntheticNetwork make_synthetic(int stations, double duration, uint64_t seed)
{
    Random random(seed);
    SyntheticNetwork network;
    const size_t n = static_cast<size_t>(duration * rate);

    std::vector<Point> sites;
    for (int s = 0; s < stations; ++s) {
        const double angle = 2.0 * pi * s / stations + random.uniform(-0.3, 0.3);
        const double radius = random.uniform(2.0, 6.0);
        sites.push_back({radius * std::cos(angle), radius * std::sin(angle), 0.0});
        Trace trace;
        char name[32];
        std::snprintf(name, sizeof name, "XX.S%02d..HHZ", s + 1);
        trace.id = name;
        trace.source = "synthetic";
        trace.start = start_time;
        trace.rate = rate;
        trace.samples.resize(n);
        const double phase = random.uniform(0.0, 2.0 * pi);
        for (size_t i = 0; i < n; ++i)
            trace.samples[i] = noise_level * random.normal() +
                               20.0 * noise_level * std::sin(2.0 * pi * 0.15 * static_cast<double>(i) / rate + phase);
        network.traces.push_back(std::move(trace));
    }

    // Events at regular slots with some jitter, glitches between them.
    const double spacing = 50.0;
    const int event_count = std::max(1, static_cast<int>(duration / spacing) - 1);
    for (int e = 0; e < event_count; ++e) {
        const double origin = spacing * (e + 0.5) + random.uniform(-10.0, 10.0);
        const Point source{random.uniform(-3.0, 3.0), random.uniform(-3.0, 3.0), random.uniform(3.0, 8.0)};
        const double magnitude = random.uniform(1.0, 2.0);
        SyntheticEvent event{start_time + static_cast<Microseconds>(std::llround(origin * 1e6)), {}};
        for (int s = 0; s < stations; ++s) {
            const Point &p = sites[static_cast<size_t>(s)];
            const double distance = std::hypot(p.x - source.x, p.y - source.y, p.z - source.z);
            const double p_arrival = origin + distance / 6.0, s_arrival = origin + distance / 3.5;
            const double amplitude = noise_level * 60.0 * magnitude / distance;
            add_wave(network.traces[static_cast<size_t>(s)].samples, p_arrival, amplitude,
                     random.uniform(6.0, 10.0), 0.25);
            add_wave(network.traces[static_cast<size_t>(s)].samples, s_arrival, 1.5 * amplitude,
                     random.uniform(3.0, 6.0), 0.5);
            event.arrivals.push_back(start_time + static_cast<Microseconds>(std::llround(p_arrival * 1e6)));
        }
        network.events.push_back(std::move(event));
    }
    const int glitch_count = std::max(2, static_cast<int>(duration / 100.0));
    for (int g = 0; g < glitch_count; ++g) {
        // Halfway between two event slots, far from every arrival.
        const double when = spacing * (2 * g + 1) + random.uniform(-3.0, 3.0);
        const size_t station = static_cast<size_t>(random.uniform() * stations) % static_cast<size_t>(stations);
        const size_t i = static_cast<size_t>(when * rate);
        if (i + 1 >= n) continue;
        const double spike = (random.uniform() < 0.5 ? -1.0 : 1.0) * 40.0 * noise_level;
        network.traces[station].samples[i] += spike;
        network.traces[station].samples[i + 1] -= 0.5 * spike;
        network.glitches.push_back({station, start_time + static_cast<Microseconds>(std::llround(when * 1e6))});
    }
    for (Trace &trace : network.traces)
        for (double &x : trace.samples) x = std::round(x);
    return network;
}

}  // namespace detect
