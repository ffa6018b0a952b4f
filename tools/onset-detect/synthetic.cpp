// The synthetic network: events drawn up front, samples made on demand.
#include "synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tool {

namespace {

const double pi = 3.14159265358979323846;
const double noise_level = 100.0;  // counts, standard deviation

uint64_t mix(uint64_t z)
{
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double unit(uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// splitmix64: the same numbers on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    double uniform() { return unit(next()); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }

private:
    uint64_t next()
    {
        const uint64_t z = mix(state_);
        state_ += 0x9e3779b97f4a7c15ULL;
        return z;
    }
    uint64_t state_;
};

struct Point {
    double x, y, z;  // km
};

const double vp = 6.0, vs = 3.5;  // km/s
const double centre_latitude = 46.0, centre_longitude = 7.0;
const double km_per_degree = 6371.0 * pi / 180.0;

// Kilometres east and north of the centre as degrees: within 10 km the
// plane and the sphere differ by well under a metre.
SyntheticPlace place_of(const Point &p)
{
    return {centre_latitude + p.y / km_per_degree,
            centre_longitude + p.x / (km_per_degree * std::cos(centre_latitude * pi / 180.0)), p.z};
}

}  // namespace

SyntheticNetwork::SyntheticNetwork(int stations, double duration, uint64_t seed)
    : seed_(seed), length_(static_cast<int64_t>(duration * rate))
{
    Random random(seed);
    std::vector<Point> sites;
    for (int s = 0; s < stations; ++s) {
        const double angle = 2.0 * pi * s / stations + random.uniform(-0.3, 0.3);
        const double radius = random.uniform(2.0, 6.0);
        sites.push_back({radius * std::cos(angle), radius * std::sin(angle), 0.0});
        places_.push_back(place_of(sites.back()));
        phases_.push_back(random.uniform(0.0, 2.0 * pi));
        char name[32];
        std::snprintf(name, sizeof name, "XX.S%02d..HHZ", s + 1);
        ids_.push_back(name);
    }

    // Events at regular slots with some jitter, glitches between them.
    const double spacing = 50.0;
    const int event_count = std::max(1, static_cast<int>(duration / spacing) - 1);
    for (int e = 0; e < event_count; ++e) {
        const double origin = spacing * (e + 0.5) + random.uniform(-10.0, 10.0);
        const Point source{random.uniform(-3.0, 3.0), random.uniform(-3.0, 3.0), random.uniform(3.0, 8.0)};
        const double magnitude = random.uniform(1.0, 2.0);
        SyntheticEvent event{start + std::llround(origin * 1e6), {}, place_of(source)};
        std::vector<StationEvent> waves;
        for (const Point &p : sites) {
            const double distance = std::hypot(p.x - source.x, p.y - source.y, p.z - source.z);
            const double amplitude = noise_level * 60.0 * magnitude / distance;
            const Wave p_wave{origin + distance / vp, amplitude, random.uniform(6.0, 10.0), 0.25};
            const Wave s_wave{origin + distance / vs, 1.5 * amplitude, random.uniform(3.0, 6.0), 0.5};
            waves.push_back({p_wave, s_wave});
            event.arrivals.push_back(start + std::llround(p_wave.arrival * 1e6));
        }
        events_.push_back(std::move(event));
        waves_.push_back(std::move(waves));
    }
    const int glitch_count = std::max(2, static_cast<int>(duration / 100.0));
    for (int g = 0; g < glitch_count; ++g) {
        // Halfway between two event slots, far from every arrival.
        const double when = spacing * (2 * g + 1) + random.uniform(-3.0, 3.0);
        const size_t station = static_cast<size_t>(random.uniform() * stations) % static_cast<size_t>(stations);
        const double spike = (random.uniform() < 0.5 ? -1.0 : 1.0) * 40.0 * noise_level;
        const auto index = static_cast<int64_t>(when * rate);
        if (index + 1 >= length_) continue;
        glitches_.push_back({station, start + std::llround(when * 1e6)});
        spikes_.push_back({index, spike});
    }
}

std::vector<double> SyntheticNetwork::samples(size_t station, int64_t first, int64_t count) const
{
    first = std::max<int64_t>(first, 0);
    const int64_t end = std::min(length_, first + std::max<int64_t>(count, 0));
    std::vector<double> out(static_cast<size_t>(std::max<int64_t>(end - first, 0)));
    const uint64_t stream = mix(seed_ ^ mix(station + 1));
    for (int64_t i = first; i < end; ++i) {
        // Box-Muller on a counter: samples 2j and 2j + 1 share one pair.
        const uint64_t pair = stream + 2 * static_cast<uint64_t>(i >> 1);
        const double u = 1.0 - unit(mix(pair)), v = unit(mix(pair + 1));
        const double radius = std::sqrt(-2.0 * std::log(u));
        const double normal = radius * ((i & 1) ? std::sin(2.0 * pi * v) : std::cos(2.0 * pi * v));
        out[static_cast<size_t>(i - first)] =
            noise_level * normal +
            20.0 * noise_level * std::sin(2.0 * pi * 0.15 * static_cast<double>(i) / rate + phases_[station]);
    }
    // A wave starts at its arrival with a steep first swing and decays
    // within 8 decay times; every event's waves reach every station within
    // 15 s of its origin.
    const auto add_wave = [&](const Wave &wave) {
        const int64_t from = std::max(first, static_cast<int64_t>(std::ceil(wave.arrival * rate)));
        const int64_t to = std::min(end, static_cast<int64_t>((wave.arrival + 8.0 * wave.decay) * rate));
        for (int64_t i = from; i < to; ++i) {
            const double t = static_cast<double>(i) / rate - wave.arrival;
            out[static_cast<size_t>(i - first)] +=
                wave.amplitude * std::sin(2.0 * pi * wave.frequency * t) * std::exp(-t / wave.decay);
        }
    };
    const auto time_of = [](int64_t i) { return start + std::llround(static_cast<double>(i) * 1e6 / rate); };
    const Microseconds window_begin = time_of(first) - 15000000;
    auto e = std::lower_bound(events_.begin(), events_.end(), window_begin,
                              [](const SyntheticEvent &event, Microseconds t) { return event.origin < t; });
    for (; e != events_.end() && e->origin < time_of(end); ++e) {
        const StationEvent &waves = waves_[static_cast<size_t>(e - events_.begin())][station];
        add_wave(waves.p);
        add_wave(waves.s);
    }
    for (size_t g = 0; g < glitches_.size(); ++g) {
        if (glitches_[g].station != station) continue;
        const int64_t i = spikes_[g].index;
        if (i >= first && i < end) out[static_cast<size_t>(i - first)] += spikes_[g].size;
        if (i + 1 >= first && i + 1 < end) out[static_cast<size_t>(i + 1 - first)] -= 0.5 * spikes_[g].size;
    }
    for (double &x : out) x = std::round(x);
    return out;
}

std::string SyntheticNetwork::stations_csv() const
{
    std::string text = "network,station,latitude,longitude,elevation_m\n";
    for (size_t s = 0; s < ids_.size(); ++s) {
        const size_t dot = ids_[s].find('.'), next = ids_[s].find('.', dot + 1);
        char row[128];
        std::snprintf(row, sizeof row, "%s,%s,%.8f,%.8f,0\n", ids_[s].substr(0, dot).c_str(),
                      ids_[s].substr(dot + 1, next - dot - 1).c_str(), places_[s].latitude, places_[s].longitude);
        text += row;
    }
    return text;
}

std::string SyntheticNetwork::model_csv()
{
    char text[96];
    std::snprintf(text, sizeof text, "depth_km,vp_km_s,vs_km_s\n0,%g,%g\n", vp, vs);
    return text;
}

}  // namespace tool
