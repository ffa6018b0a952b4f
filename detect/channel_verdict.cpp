// The verdict on a channel from what became of its samples.
#include "channel_verdict.h"

#include "number_text.h"

namespace detect {

std::string channel_verdict(const onset_channel_report &r, double rate)
{
    if (r.longest_run >= r.needed_run) return "";
    if (r.samples == 0) return "all its samples are gaps";
    return "its longest stretch without gaps has " + std::to_string(r.longest_run) + " samples (" +
           number_text(static_cast<double>(r.longest_run) / rate) + " s), the windows need " +
           std::to_string(r.needed_run) + " (" + number_text(static_cast<double>(r.needed_run) / rate) + " s)";
}

std::string station_of(const std::string &id) { return id.substr(0, id.find('.', id.find('.') + 1)); }

}  // namespace detect
