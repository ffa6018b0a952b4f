// Header checks made before a record is decoded or queued: libmseed trusts
// the sample count and data offset, and an impossible time or rate would
// make a run step through centuries.
#include "record_checks.h"

#include <cmath>
#include <cstdio>

namespace reading {

namespace {

// Bytes of data area needed for `samples` samples in `encoding`, or -1 for
// an encoding that cannot be decoded.
int64_t bytes_needed(int encoding, int64_t samples, int64_t area)
{
    switch (encoding) {
    case 0: return samples;                               // text
    case 1: case 13: case 14: case 16: case 30: case 32:  // 16-bit integers and gain-ranged forms
        return 2 * samples;
    case 12: return 3 * samples;                           // 24-bit integers
    case 3: case 4: return 4 * samples;                   // 32-bit integers and floats
    case 5: return 8 * samples;                           // 64-bit floats
    case 10: case 11: {
        // Steim frames of 64 bytes: 15 data words each, of which the first
        // frame's first two hold the integration constants; a word holds at
        // most 4 (Steim-1) or 7 (Steim-2) differences.
        const int64_t per_word = encoding == 10 ? 4 : 7;
        const int64_t frames = area / 64;
        const int64_t words = frames * 15 - 2;
        return samples <= per_word * words && words > 0 ? 64 * frames : area + 1;
    }
    default: return -1;
    }
}

}  // namespace

std::string header_problem(const HeaderFields &h)
{
    char text[200];
    if (h.year < 1900 || h.year > 2100 || h.day < 1 || h.day > 366 || h.hour > 23 || h.minute > 59 ||
        h.second > 60 || h.fraction < 0 || h.fraction > 9999) {
        std::snprintf(text, sizeof text, "its start time %04d,%03d,%02d:%02d:%02d.%04d is impossible", h.year, h.day,
                      h.hour, h.minute, h.second, h.fraction);
        return text;
    }
    if (h.samples <= 0) return "";
    if (h.encoding != 0) {  // text has no rate
        if (!(h.rate >= 1e-6 && h.rate <= 1e6)) {
            std::snprintf(text, sizeof text, "its sampling rate %g Hz is outside 1 uHz to 1 MHz", h.rate);
            return text;
        }
        const double end = static_cast<double>(h.start) + static_cast<double>(h.samples - 1) * 1e6 / h.rate;
        if (h.start < earliest_time || end > static_cast<double>(latest_time)) return "its samples lie outside the years 1900 to 2100";
    }
    const int64_t area = static_cast<int64_t>(h.length) - static_cast<int64_t>(h.data_offset);
    const int64_t needed = bytes_needed(h.encoding, h.samples, area);
    if (needed < 0) {
        std::snprintf(text, sizeof text, "its samples are in an encoding that cannot be decoded (%d)", h.encoding);
        return text;
    }
    if (h.data_offset < 48 || needed > area) {
        std::snprintf(text, sizeof text, "its header puts %lld samples (encoding %d) at byte %u of its %u bytes",
                      static_cast<long long>(h.samples), h.encoding, h.data_offset, h.length);
        return text;
    }
    return "";
}

}  // namespace reading
