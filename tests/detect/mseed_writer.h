// Writes test traces as miniSEED with libmseed, independently of the
// detector's own writer, so that gaps, several channels per file, other
// rates and non-finite samples can be written too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace detect_test {

// One contiguous stretch of a channel.
struct Segment {
    std::string network, station, location, channel;
    int64_t start;  // microseconds since 1970
    double rate;
    std::vector<double> samples;
    std::string text = {};  // when set: a text (log) channel, no samples
};

// Appends the segments to `path` (created or truncated), 512-byte records,
// 64-bit float samples (so NaN survives), or ASCII for text channels.
void write_segments(const std::string &path, const std::vector<Segment> &segments);

}  // namespace detect_test
