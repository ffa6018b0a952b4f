// Merging a station's component onsets into its P and S picks.
#include "station_picks.h"

#include <algorithm>
#include <limits>

namespace detect {

std::pair<std::string, Component> station_component(const std::string &id)
{
    const size_t dot = id.rfind('.');
    const std::string code = dot == std::string::npos ? std::string() : id.substr(dot + 1);
    if (code.size() == 3) {
        const char last = code[2];
        if (last == 'Z') return {id.substr(0, id.size() - 1), Component::vertical};
        if (last == 'N' || last == 'E' || last == '1' || last == '2')
            return {id.substr(0, id.size() - 1), Component::horizontal};
    }
    return {id, Component::single};
}

void StationPicks::add_channel(int32_t channel, Component component)
{
    if (component == Component::horizontal) horizontals_.push_back(channel);
    else vertical_ = channel;
}

void StationPicks::add(const std::vector<TimedOnset> &onsets)
{
    pending_.insert(pending_.end(), onsets.begin(), onsets.end());
}

bool StationPicks::picks_on(int32_t channel) const { return vertical_ < 0 || channel == vertical_; }

bool StationPicks::vertical_p_within(size_t from, int64_t time) const
{
    for (size_t j = from; j < pending_.size() && pending_[j].time - time <= duplicate_span_; ++j)
        if (pending_[j].channel == vertical_ && pending_[j].phase == 'P') return true;
    return false;
}

int64_t StationPicks::release(int64_t channels_horizon, std::vector<TimedOnset> &picks)
{
    // An onset is decided once every onset within the duplicate span after
    // it is known.
    const int64_t decided = channels_horizon == std::numeric_limits<int64_t>::max()
                                ? channels_horizon
                                : channels_horizon - duplicate_span_;
    std::stable_sort(pending_.begin(), pending_.end(), [](const TimedOnset &a, const TimedOnset &b) {
        return a.time != b.time ? a.time < b.time : a.channel < b.channel;
    });
    size_t i = 0;
    for (; i < pending_.size() && pending_[i].time < decided; ++i) {
        const TimedOnset &onset = pending_[i];
        const bool in_train = in_train_ && onset.time - train_time_ <= train_span_;
        const bool after_p = in_train && onset.time - train_time_ > duplicate_span_;
        if (picks_on(onset.channel)) {
            if (onset.phase == 'P') {
                // Another horizontal's view of the P just picked.
                if (in_train && !after_p) continue;
                picks.push_back(onset);
                in_train_ = true;
                has_s_ = false;
                train_time_ = onset.time;
                train_channel_ = onset.channel;
            } else if (in_train && !has_s_) {
                picks.push_back(onset);
                picks.back().train = train_time_;
                picks.back().train_channel = train_channel_;
                has_s_ = true;
            }
            continue;
        }
        // A horizontal of a station with a vertical: the P seen there, the
        // S, or coda.
        if (!after_p || has_s_ || vertical_p_within(i + 1, onset.time)) continue;
        picks.push_back(onset);
        TimedOnset &s = picks.back();
        s.phase = 'S';
        s.train = train_time_;
        s.train_channel = train_channel_;
        has_s_ = true;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
    return decided;
}

}  // namespace detect
