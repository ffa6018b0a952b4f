// What makes a miniSEED record's header unusable: times no clock gives,
// rates no instrument samples at, and sample counts or data offsets that
// put the samples outside the record.
#ifndef ONSET_DETECT_READER_RECORD_CHECKS_H
#define ONSET_DETECT_READER_RECORD_CHECKS_H

#include <cstdint>
#include <string>

namespace reading {

// A record header's fields as written, in host byte order.
struct HeaderFields {
    int year, day, hour, minute, second, fraction;  // fraction in 0.0001 s
    int64_t start;                                   // microseconds since 1970, corrections applied
    int64_t samples;
    double rate;           // samples per second, as the record says
    int encoding;          // SEED data encoding code
    uint32_t length;       // of the whole record, bytes
    uint32_t data_offset;  // where its samples begin, bytes
};

// "" for a record that can be decoded and placed in time, or why not.
std::string header_problem(const HeaderFields &header);

// The last microsecond of 2100 and the first of 1900: the span a record
// must lie in.
constexpr int64_t latest_time = 4133980799999999LL;
constexpr int64_t earliest_time = -2208988800000000LL;

}  // namespace reading

#endif
