// How far a live stream's data have come by now: the data time that the
// wall clock has reached, as the records' arrivals tell it. Stations' clocks
// and the local clock need not agree (a replay serves old data, a sped-up
// one runs faster), so only the offset between a record's end and its
// arrival counts; a channel with a wrong clock is outvoted by the others.
#ifndef ONSET_DETECT_DATA_CLOCK_H
#define ONSET_DETECT_DATA_CLOCK_H

#include <cstdint>
#include <limits>
#include <map>
#include <string>

namespace detect {

class DataClock {
public:
    // A record of `channel` whose samples end at `end` (data time, us since
    // 1970) arrived at `arrival` (a monotonic clock, us).
    void heard(const std::string &channel, int64_t end, int64_t arrival);

    // The data time at `wall` (the same monotonic clock): the median over
    // the channels of their latest end's offset from its arrival, added to
    // `wall`; INT64_MIN before any record.
    int64_t now(int64_t wall) const;

private:
    std::map<std::string, int64_t> offsets_;  // of each channel's latest end from its arrival
    std::map<std::string, int64_t> ends_;     // each channel's latest end
};

}  // namespace detect

#endif
