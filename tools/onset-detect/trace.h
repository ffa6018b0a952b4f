// One channel of samples, as the detector sees it.
#ifndef ONSET_DETECT_TRACE_H
#define ONSET_DETECT_TRACE_H

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace detect {

// Microseconds since 1970-01-01T00:00:00Z, the time unit of miniSEED.
using Microseconds = int64_t;

struct Trace {
    std::string id;              // NET.STA.LOC.CHA
    std::string source;          // file it came from (for messages), or "synthetic"
    Microseconds start = 0;      // time of samples[0]
    double rate = 0.0;           // samples per second
    std::vector<double> samples; // NaN where the record has a gap

    // NET.STA: channels of one station count once towards an event.
    std::string station() const { return id.substr(0, id.find('.', id.find('.') + 1)); }
    // Time of a (possibly fractional) sample index.
    Microseconds time_of(double index) const {
        return start + static_cast<Microseconds>(std::llround(index * 1e6 / rate));
    }
};

// A problem with the user's input or flags: reported on stderr, exit status 2.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace detect

#endif
