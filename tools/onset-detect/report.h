// Writing events as they come, and scoring them against a synthetic truth.
#ifndef ONSET_DETECT_TOOL_REPORT_H
#define ONSET_DETECT_TOOL_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "miniseed.h"
#include "onset_detect.h"
#include "synthetic.h"

namespace tool {

// 2024-01-01T00:00:12.345Z (rounded to the millisecond).
std::string iso_time(Microseconds time);

// An event as the host keeps it.
struct Event {
    Microseconds earliest;
    int stations;
    std::vector<onset_pick> picks;
};

// Text: one line per event, the earliest pick, the station count, then
// ID=time per pick. CSV: one row per pick,
// event,earliest,stations,trace,pick,strength,phase,uncertainty, after a
// header that comes with the first row (or at the end), so that a run that
// fails before its first event writes nothing.
class EventWriter {
public:
    EventWriter(std::FILE *out, bool csv, const std::vector<std::string> &channel_ids);
    void write(const Event &event);
    void finish();

private:
    void header();

    std::FILE *out_;
    bool csv_;
    const std::vector<std::string> &ids_;
    bool header_written_ = false;
    size_t written_ = 0;
};

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
