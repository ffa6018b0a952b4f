// The few lines said on stderr at the end of a run over recordings.
#ifndef ONSET_DETECT_TOOL_SUMMARY_H
#define ONSET_DETECT_TOOL_SUMMARY_H

#include <set>
#include <string>

#include "event_writer.h"
#include "inputs.h"

namespace tool {

class RunSummary {
public:
    // A warning line of the run; the channels it leaves out are counted.
    void warned(const std::string &line);
    void wrote(const Event &event);

    // Channels used and left out, the span read, the events and picks
    // written, and the time taken; each line begins "onset-detect: ".
    std::string text(size_t used_channels, int usable_stations, Microseconds begin, Microseconds end,
                     double seconds) const;

private:
    std::set<std::string> left_out_;  // channel ids
    size_t events_ = 0, p_picks_ = 0, s_picks_ = 0;
};

}  // namespace tool

#endif
