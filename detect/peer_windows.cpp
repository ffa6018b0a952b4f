// Windows of an event's S picks, and the S its other stations give there.
#include "peer_windows.h"

#include <algorithm>
#include <map>

namespace detect {

void PeerWindows::set_channels(std::vector<int32_t> unit, std::vector<int32_t> rank)
{
    unit_ = std::move(unit);
    rank_ = std::move(rank);
    units_ = unit_.empty() ? 0 : static_cast<size_t>(*std::max_element(unit_.begin(), unit_.end())) + 1;
}

void PeerWindows::take(std::deque<Event> &grouped, int64_t settled, std::deque<Event> &ready)
{
    for (Event &event : grouped) {
        Held held{std::move(event), INT64_MAX, INT64_MIN};
        std::vector<int32_t> s_units;
        for (const onset_pick &p : held.event.picks) {
            if (p.phase != 'S') continue;
            held.from = std::min(held.from, p.time - half_);
            held.to = std::max(held.to, p.time + half_);
            s_units.push_back(unit_[static_cast<size_t>(p.channel)]);
        }
        std::sort(s_units.begin(), s_units.end());
        if (std::unique(s_units.begin(), s_units.end()) - s_units.begin() < 2) held.to = held.from;
        held_.push_back(std::move(held));
    }
    grouped.clear();
    // In order: an event waits for the one before it.
    while (!held_.empty() && (!held_.front().has_window() || held_.front().to <= settled)) {
        pick(held_.front());
        ready.push_back(std::move(held_.front().event));
        held_.pop_front();
    }
}

int64_t PeerWindows::samples_needed_from(int64_t settled) const
{
    // Picks lie within 10^17 us of 1970; `settled` may be either end.
    int64_t first = settled == INT64_MAX ? settled : settled < INT64_MIN + half_ ? INT64_MIN : settled - half_;
    for (const Held &held : held_)
        if (held.has_window()) first = std::min(first, held.from);
    return first;
}

void PeerWindows::pick(Held &held) const
{
    if (!held.has_window()) return;
    // Each station's P, and whether it has its S.
    std::map<int32_t, int64_t> p_of;
    std::vector<bool> has_s(units_, false);
    for (const onset_pick &p : held.event.picks) {
        const int32_t unit = unit_[static_cast<size_t>(p.channel)];
        if (p.phase == 'S') has_s[static_cast<size_t>(unit)] = true;
        if (p.phase == 'P') p_of.emplace(unit, p.time);
    }
    std::vector<onset_pick> &picks = held.event.picks;
    const size_t own = picks.size();
    for (size_t c = 0; c < unit_.size(); ++c) {
        const auto unit = static_cast<size_t>(unit_[c]);
        // Asked once per station, of its first channel.
        if (has_s[unit]) continue;
        has_s[unit] = true;
        int64_t from = held.from;
        const auto p = p_of.find(static_cast<int32_t>(unit));
        if (p != p_of.end()) from = std::max(from, p->second + half_);
        onset_pick found{};
        if (from < held.to && picker_(static_cast<int32_t>(c), from, held.to, found)) picks.push_back(found);
    }
    if (picks.size() == own) return;
    std::stable_sort(picks.begin(), picks.end(), [this](const onset_pick &a, const onset_pick &b) {
        const int32_t x = rank_[static_cast<size_t>(a.channel)], y = rank_[static_cast<size_t>(b.channel)];
        return x != y ? x < y : a.time < b.time;
    });
}

}  // namespace detect
