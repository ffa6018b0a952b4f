// Windows of an event's S picks, the S its other stations give there, and
// the P those S and the origin time give.
#include "peer_windows.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "settings.h"

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
        Held held{std::move(event), INT64_MAX, INT64_MIN, INT64_MIN};
        std::vector<int32_t> s_units;
        for (const onset_pick &p : held.event.picks) {
            if (p.phase == 'P') {
                held.p_to = std::max(held.p_to, std::min(p.time + half_, held.event.earliest + reach_));
                continue;
            }
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
        if (held.has_window()) first = std::min({first, held.from, held.event.earliest});
    return first;
}

void PeerWindows::pick(Held &held) const
{
    if (!held.has_window()) return;
    // Each station's P, and whether it has its S.
    std::map<int32_t, int64_t> p_of, s_of;
    std::vector<bool> has_s(units_, false);
    for (const onset_pick &p : held.event.picks) {
        const int32_t unit = unit_[static_cast<size_t>(p.channel)];
        if (p.phase == 'S') has_s[static_cast<size_t>(unit)] = true, s_of.emplace(unit, p.time);
        if (p.phase == 'P') p_of.emplace(unit, p.time);
    }
    // The origin time by the stations with both phases (S - P grows as
    // (vp/vs - 1) times the P's travel time): their median.
    std::vector<int64_t> origins;
    for (const auto &[unit, s] : s_of) {
        const auto p = p_of.find(unit);
        if (p != p_of.end() && s > p->second)
            origins.push_back(p->second - std::llround(static_cast<double>(s - p->second) / (peer_vp_vs - 1.0)));
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
        if (from < held.to && picker_(static_cast<int32_t>(c), 'S', from, held.to, found)) {
            picks.push_back(found);
            s_of.emplace(static_cast<int32_t>(unit), found.time);
        }
    }
    // A station with its S but no P looks for the P where that origin and
    // its S put it: its S time divided in the ratio of the velocities.
    std::vector<bool> asked(units_, false);
    if (!origins.empty()) {
        std::nth_element(origins.begin(), origins.begin() + static_cast<std::ptrdiff_t>(origins.size() / 2),
                         origins.end());
        const int64_t origin = origins[origins.size() / 2];
        for (size_t c = 0; c < unit_.size(); ++c) {
            const int32_t unit = unit_[c];
            const auto s = s_of.find(unit);
            if (asked[static_cast<size_t>(unit)] || p_of.count(unit) || s == s_of.end() || s->second <= origin)
                continue;
            asked[static_cast<size_t>(unit)] = true;
            const int64_t p = origin + std::llround(static_cast<double>(s->second - origin) / peer_vp_vs);
            const int64_t from = std::max(held.event.earliest, p - half_);
            const int64_t to = std::min({p + half_, held.p_to, s->second - half_});
            onset_pick found{};
            if (from < to && picker_(static_cast<int32_t>(c), 'P', from, to, found)) picks.push_back(found);
        }
    }
    if (picks.size() == own) return;
    std::stable_sort(picks.begin(), picks.end(), [this](const onset_pick &a, const onset_pick &b) {
        const int32_t x = rank_[static_cast<size_t>(a.channel)], y = rank_[static_cast<size_t>(b.channel)];
        return x != y ? x < y : a.time < b.time;
    });
}

}  // namespace detect
