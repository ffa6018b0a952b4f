// Writing events as they come: text lines, CSV rows, QuakeML, NonLinLoc.
#ifndef ONSET_DETECT_TOOL_EVENT_WRITER_H
#define ONSET_DETECT_TOOL_EVENT_WRITER_H

#include <cstdio>
#include <string>
#include <vector>

#include "inputs.h"
#include "onset_detect.h"
#include "run_identity.h"

namespace tool {

// 2024-01-01T00:00:12.345Z (rounded to the millisecond).
std::string iso_time(Microseconds time);

// A pick's CSV columns, trace,pick,strength,phase,uncertainty,polarity (the
// header's names): in an event's rows after its own, and the rows of
// --picks.
extern const char csv_pick_header[];
std::string csv_pick_columns(const onset_pick &pick, const std::string &trace);

// An event as the host keeps it.
struct Event {
    Microseconds earliest;
    int stations;
    std::vector<onset_pick> picks;
};

// text: per event a header (number, earliest pick, stations, picks) and
// one line per pick (trace, phase, time, uncertainty, strength).
// csv: one row per pick, event,earliest,stations,trace,pick,strength,phase,
// uncertainty.
// quakeml: QuakeML 1.2, one event per detection with its picks (time and
// uncertainty, waveform id, onset where it is clear, phase hint, automatic
// evaluation, strength in a comment) and no origin, since none is located;
// resource ids under the run's own prefix.
// nlloc: NonLinLoc's phase format, per event a PUBLIC_ID line with its
// QuakeML id, one line per pick (the station as NET_STA or NET_STA_LOC) and
// the empty line that ends it, so that the events can be located next.
// Whatever comes before the first event (a header) comes with it or at the
// end, so that a run that fails before its first event writes nothing.
enum class Format { text, csv, quakeml, nlloc };

class EventWriter {
public:
    EventWriter(std::FILE *out, Format format, const std::vector<std::string> &channel_ids, const RunIdentity &run);
    // Each returns false when the stream could not take it (errno says why).
    bool write(const Event &event);
    bool finish();

private:
    void header();
    void text(const Event &event);
    void quakeml(const Event &event);
    void nlloc(const Event &event);

    std::FILE *out_;
    Format format_;
    const std::vector<std::string> &ids_;
    const RunIdentity &run_;
    bool header_written_ = false;
    size_t written_ = 0;
};

}  // namespace tool

#endif
