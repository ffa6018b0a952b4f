// One updating progress line on a terminal: the data time reached, the
// share done, the rate and the time left.
#ifndef ONSET_DETECT_TOOL_PROGRESS_H
#define ONSET_DETECT_TOOL_PROGRESS_H

#include <chrono>
#include <cstdint>

#include "inputs.h"

namespace tool {

class Progress {
public:
    // Shown only when `on` and stderr is a terminal.
    Progress(bool on, Microseconds begin, Microseconds end);
    ~Progress() { clear(); }

    void update(Microseconds reached, uint64_t samples);
    // Removes the line, so that what follows starts on a clean one.
    void clear();

private:
    bool on_;
    bool shown_ = false;
    Microseconds begin_, end_;
    std::chrono::steady_clock::time_point started_, last_;
};

}  // namespace tool

#endif
