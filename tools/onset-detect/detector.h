// The whole detection: band-pass, kurtosis, onset strength, onsets, events.
#ifndef ONSET_DETECT_DETECTOR_H
#define ONSET_DETECT_DETECTOR_H

#include <vector>

#include "events.h"
#include "onsets.h"
#include "options.h"
#include "trace.h"

namespace detect {

struct Detection {
    std::vector<std::vector<Onset>> onsets;  // per trace
    std::vector<Event> events;
};

// Window widths of one trace in samples.
Windows windows_for(const Trace &trace, const Options &options);

// Throws InputError, naming the trace, its file and the flag concerned, for
// a trace that the settings cannot process: band not below its Nyquist
// frequency, no valid sample, or no gap-free stretch as long as the windows.
void check_traces(const std::vector<Trace> &traces, const Options &options);

// Runs the detection over checked traces. With `progress`, writes one line
// per stage with its duration to stderr.
Detection detect_events(const std::vector<Trace> &traces, const Options &options, bool progress);

}  // namespace detect

#endif
