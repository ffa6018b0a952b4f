// A run's live input: the records of a SeedLink server as they come, and
// how long a channel that falls silent holds back the others' results.
#ifndef ONSET_DETECT_LIVE_INPUT_H
#define ONSET_DETECT_LIVE_INPUT_H

#include <cstdint>
#include <utility>

#include "data_clock.h"
#include "seedlink_client.h"

namespace detect {

struct LiveInput {
    // Connects; throws reading::seedlink::SeedLinkError.
    LiveInput(reading::seedlink::SeedLinkOptions options, int64_t latency)
        : client(std::move(options)), max_latency(latency)
    {
    }
    reading::seedlink::SeedLinkClient client;
    DataClock clock;
    int64_t max_latency;        // microseconds
    int64_t reconnections = 0;  // told so far
};

}  // namespace detect

#endif
