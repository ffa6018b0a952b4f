// Scoring events against the synthetic truth.
#ifndef ONSET_DETECT_TOOL_REPORT_H
#define ONSET_DETECT_TOOL_REPORT_H

#include <cstdio>
#include <vector>

#include "event_writer.h"
#include "synthetic.h"

namespace tool {

struct Score {
    int true_events = 0;
    int found = 0;             // true events matched by a detected event
    int false_detections = 0;  // detected events that match no true event
    int glitch_events = 0;     // detected events holding a pick at a glitch
    double worst_pick_error = 0.0;  // s, over the picks of matched events
};

// A detected event matches the true event whose first arrival lies nearest
// its earliest pick, within `tolerance`; each pick is compared with its
// station's true arrival (channel i is station i).
Score score_events(const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance);

// The comparison table and the recall line.
void write_score(std::FILE *out, const std::vector<Event> &events, const SyntheticNetwork &truth, double tolerance);

}  // namespace tool

#endif
