// Whether a channel's samples could be used, in the words hosts warn with.
#ifndef ONSET_DETECT_CHANNEL_VERDICT_H
#define ONSET_DETECT_CHANNEL_VERDICT_H

#include <string>

#include "onset_detect.h"

namespace detect {

// "" when some stretch without gaps was as long as the windows need, else
// why not ("all its samples are gaps", "its longest stretch ...").
std::string channel_verdict(const onset_channel_report &report, double rate);

// NET.STA of NET.STA.LOC.CHA: what counts towards min_stations.
std::string station_of(const std::string &id);

}  // namespace detect

#endif
