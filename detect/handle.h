// What an onset_detector handle holds, for the engine's C entries.
#ifndef ONSET_DETECT_HANDLE_H
#define ONSET_DETECT_HANDLE_H

#include "detector.h"
#include "event_location.h"
#include "onset_detect.h"

// An event as the C interface hands it out; its picks stay the detector's.
inline onset_event public_event(const detect::Event &event)
{
    return {event.earliest, event.stations, static_cast<int32_t>(event.picks.size()), event.picks.data(),
            event.origin ? &event.origin->origin : nullptr};
}

struct onset_detector {
    explicit onset_detector(const onset_detect_options &options) : detector(options) {}
    detect::Detector detector;
};

#endif
