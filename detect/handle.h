// What an onset_detector handle holds, for the engine's C entries.
#ifndef ONSET_DETECT_HANDLE_H
#define ONSET_DETECT_HANDLE_H

#include "detector.h"
#include "onset_detect.h"

struct onset_detector {
    explicit onset_detector(const onset_detect_options &options) : detector(options) {}
    detect::Detector detector;
};

#endif
