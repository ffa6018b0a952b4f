// Writing events, and scoring them against a synthetic truth.
#ifndef ONSET_DETECT_REPORT_H
#define ONSET_DETECT_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "events.h"
#include "synthetic.h"
#include "trace.h"

namespace detect {

// 2024-01-01T00:00:12.345Z (rounded to the millisecond).
std::string iso_time(Microseconds time);

// One line per event: earliest pick, station count, then ID=time per pick.
void write_events(std::FILE *out, const std::vector<Event> &events, const std::vector<Trace> &traces);

// CSV, one row per pick: event,earliest,stations,trace,pick,strength.
void write_events_csv(std::FILE *out, const std::vector<Event> &events,
                      const std::vector<Trace> &traces);

struct Score {
    int true_events = 0;
    int found = 0;             // true events matched by a detected event
    int false_detections = 0;  // detected events that match no true event
    int glitch_events = 0;     // detected events holding a pick at a glitch
    double worst_pick_error = 0.0;  // s, over the picks of matched events
};

// A detected event matches the true event whose first arrival lies within
// `tolerance` of its earliest pick; each pick is compared with its station's
// true arrival.
Score score_events(const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance);

// The comparison table and the recall line.
void write_score(std::FILE *out, const std::vector<Event> &events, const SyntheticNetwork &truth,
                 double tolerance);

}  // namespace detect

#endif
