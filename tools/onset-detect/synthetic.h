// The built-in synthetic network: noise, local events and glitches.
#ifndef ONSET_DETECT_SYNTHETIC_H
#define ONSET_DETECT_SYNTHETIC_H

#include <cstdint>
#include <vector>

#include "trace.h"

namespace detect {

struct SyntheticEvent {
    Microseconds origin;
    std::vector<Microseconds> arrivals;  // P arrival at each station
};

struct Glitch {
    size_t station;
    Microseconds time;
};

struct SyntheticNetwork {
    std::vector<Trace> traces;  // one vertical channel per station, 100 Hz, whole counts
    std::vector<SyntheticEvent> events;
    std::vector<Glitch> glitches;
};

// `stations` stations within 6 km of the centre, `duration` seconds of noise
// (white noise plus a strong 0.15 Hz microseism) from 2024-01-01T00:00:00Z,
// a local event (P and S waves, 6 and 3.5 km/s, 3 to 8 km deep under the
// network) every 50 s on average and a spike on one station every 100 s.
// Arrivals of one event differ by less than 2 s across the network. The same
// arguments give the same samples.
SyntheticNetwork make_synthetic(int stations, double duration, uint64_t seed = 20240101);

}  // namespace detect

#endif
