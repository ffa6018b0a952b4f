// The built-in synthetic network: noise, local events and glitches, made a
// stretch at a time, so that a day or a month never sits in memory.
#ifndef ONSET_DETECT_TOOL_SYNTHETIC_H
#define ONSET_DETECT_TOOL_SYNTHETIC_H

#include <cstdint>
#include <string>
#include <vector>

#include "inputs.h"

namespace tool {

// A place of the network: degrees, and km below sea level.
struct SyntheticPlace {
    double latitude, longitude, depth_km;
};

struct SyntheticEvent {
    Microseconds origin;
    std::vector<Microseconds> arrivals;  // P arrival at each station
    SyntheticPlace hypocentre;
};

struct Glitch {
    size_t station;
    Microseconds time;
};

// `stations` stations at sea level within 6 km of the centre (46 N, 7 E),
// `duration` seconds of noise at 100 Hz (white noise plus a strong 0.15 Hz
// microseism) from 2024-01-01T00:00:00Z, a local event (P and S waves
// through a uniform half-space, 6 and 3.5 km/s, from 3 to 8 km deep under
// the network) every 50 s on average and a spike on one station every 100 s. Arrivals of one event differ by less than 2 s across
// the network. Every sample is a whole count that depends only on the seed
// and its own index, however the network is cut into stretches.
class SyntheticNetwork {
public:
    SyntheticNetwork(int stations, double duration, uint64_t seed = 20240101);

    static constexpr double rate = 100.0;
    static constexpr Microseconds start = 1704067200LL * 1000000;  // 2024-01-01T00:00:00Z

    const std::vector<std::string> &ids() const { return ids_; }  // XX.S01..HHZ, ...
    int64_t length() const { return length_; }                    // samples per station
    const std::vector<SyntheticEvent> &events() const { return events_; }
    const std::vector<Glitch> &glitches() const { return glitches_; }
    const std::vector<SyntheticPlace> &sites() const { return places_; }  // of the stations

    // The stations as CSV (network,station,latitude,longitude,elevation_m)
    // and the half-space as a velocity model (depth_km,vp_km_s,vs_km_s).
    std::string stations_csv() const;
    static std::string model_csv();

    // Samples [first, first + count) of a station (clipped to the length).
    std::vector<double> samples(size_t station, int64_t first, int64_t count) const;

private:
    struct Wave {
        double arrival;  // s from the start
        double amplitude, frequency, decay;
    };
    struct StationEvent {
        Wave p, s;
    };

    uint64_t seed_;
    int64_t length_;
    std::vector<std::string> ids_;
    std::vector<SyntheticPlace> places_;
    std::vector<double> phases_;  // of each station's microseism
    std::vector<SyntheticEvent> events_;
    std::vector<std::vector<StationEvent>> waves_;  // per event, per station
    std::vector<Glitch> glitches_;
    struct Spike {
        int64_t index;
        double size;
    };
    std::vector<Spike> spikes_;  // per glitch
};

}  // namespace tool

#endif
