// The end-of-run summary.
#include "summary.h"

#include <cstdio>

namespace tool {

void RunSummary::warned(const std::string &line)
{
    // "ID left out: why" names a channel; the lines about files begin with
    // a quoted path or say more before "left out".
    const size_t at = line.find(" left out: ");
    if (at == std::string::npos || at == 0) return;
    const std::string id = line.substr(0, at);
    if (id.find_first_of(" '") == std::string::npos) left_out_.insert(id);
}

void RunSummary::wrote(const Event &event)
{
    ++events_;
    for (const onset_pick &pick : event.picks) ++(pick.phase == 'S' ? s_picks_ : p_picks_);
}

std::string RunSummary::text(size_t used_channels, int usable_stations, Microseconds begin, Microseconds end,
                             double seconds) const
{
    const auto plural = [](size_t n, const char *word) {
        return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
    };
    char line[256];
    std::string lines = "onset-detect: " + plural(used_channels, "channel") + " used (" +
                        plural(static_cast<size_t>(usable_stations), "station") + "), " +
                        std::to_string(left_out_.size()) + " left out" + (left_out_.empty() ? "" : " (warned above)") +
                        "\n";
    std::snprintf(line, sizeof line, "onset-detect: read %s to %s in %.1f s\n", iso_time(begin).c_str(),
                  iso_time(end).c_str(), seconds);
    lines += line;
    lines += "onset-detect: " + plural(events_, "event") + " written, " + plural(p_picks_ + s_picks_, "pick") + " (" +
             std::to_string(p_picks_) + " P, " + std::to_string(s_picks_) + " S)\n";
    return lines;
}

}  // namespace tool
