// Blocks of onsets through `captures`, and the events among the captures.
#include "event_grouping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#include "event_merging.h"
#include "onset.h"
#include "settings.h"

namespace detect {

namespace {

// Zeroed memory from calloc: large blocks come straight from the system as
// untouched pages, so the capture blocks that `captures` never writes cost
// address space, not memory.
template <class T>
std::unique_ptr<T[], void (*)(void *)> zeroed(size_t count)
{
    T *memory = static_cast<T *>(std::calloc(std::max<size_t>(count, 1), sizeof(T)));
    if (!memory) throw std::bad_alloc();
    return {memory, std::free};
}

}  // namespace

EventGrouping::EventGrouping(double tolerance, int32_t min_stations, double train_span)
    : tolerance_(tolerance),
      quiet_span_(std::llround(2.0 * tolerance * 1e6)),
      moveout_(quiet_span_),
      later_wave_span_(2 * quiet_span_),
      dense_span_(std::llround(dense_tolerances * tolerance * 1e6)),
      train_span_(std::llround(train_span * 1e6)),
      min_stations_(min_stations)
{
}

void EventGrouping::set_channels(std::vector<int32_t> rank, std::vector<int32_t> station, std::vector<int32_t> unit)
{
    rank_ = std::move(rank);
    station_ = std::move(station);
    unit_ = std::move(unit);
    sorted_ = false;
}

void EventGrouping::add(const std::vector<TimedOnset> &onsets)
{
    for (const TimedOnset &onset : onsets) (onset.phase == 'S' ? s_waves_ : pending_).push_back(onset);
    sorted_ = false;
}

size_t EventGrouping::block_end(int64_t horizon) const
{
    const int64_t start = pending_.front().time;
    const int64_t limit = start + dense_span_;
    size_t i = 0;
    for (; i < pending_.size() && pending_[i].time <= limit; ++i) {
        // Onsets still to come lie at or after the horizon, which may be
        // INT64_MAX: the span is added to the onset's time, which cannot
        // overflow, not taken from the horizon.
        const int64_t next = i + 1 < pending_.size() ? std::min(pending_[i + 1].time, horizon) : horizon;
        if (next > pending_[i].time + quiet_span_) return i + 1;
    }
    if (horizon <= limit) return 0;
    // No quiet span: the largest gap in the second half of the dense span.
    size_t cut = i;
    int64_t widest = -1;
    for (size_t j = 1; j < i; ++j)
        if (pending_[j].time > start + dense_span_ / 2 && pending_[j].time - pending_[j - 1].time > widest) {
            widest = pending_[j].time - pending_[j - 1].time;
            cut = j;
        }
    return cut;
}

void EventGrouping::group(int64_t horizon, std::deque<Event> &events)
{
    if (!sorted_) {
        std::stable_sort(pending_.begin(), pending_.end(), [&](const TimedOnset &a, const TimedOnset &b) {
            return a.time != b.time ? a.time < b.time : rank_[a.channel] < rank_[b.channel];
        });
        sorted_ = true;
    }
    while (!pending_.empty()) {
        const size_t count = block_end(horizon);
        // Every S of the block's trains has come once the horizon is past
        // their P picks: a station holds it at its last P until that
        // train's S is out.
        if (count == 0 || pending_[count - 1].time + 1 >= horizon) break;
        group_block(count);
        // S waves of trains that began before the block's end have found
        // their event, or have none.
        const int64_t last = pending_[count - 1].time;
        s_waves_.erase(std::remove_if(s_waves_.begin(), s_waves_.end(),
                                      [last](const TimedOnset &s) { return s.train <= last; }),
                       s_waves_.end());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (pending_.empty() && horizon == std::numeric_limits<int64_t>::max()) s_waves_.clear();
    release(horizon, events);
}

void EventGrouping::group_block(size_t count)
{
    // The block's channels in rank order; within a channel its onsets stay
    // in time order.
    std::vector<const TimedOnset *> block;
    for (size_t i = 0; i < count; ++i) block.push_back(&pending_[i]);
    std::stable_sort(block.begin(), block.end(), [&](const TimedOnset *a, const TimedOnset *b) {
        return rank_[a->channel] < rank_[b->channel];
    });
    const int64_t origin = pending_.front().time;
    std::vector<std::vector<Pick>> picks;
    std::vector<std::vector<const TimedOnset *>> sources;
    for (const TimedOnset *onset : block) {
        if (sources.empty() || sources.back().front()->channel != onset->channel) {
            picks.emplace_back();
            sources.emplace_back();
        }
        Pick pick{};
        pick.time = static_cast<double>(onset->time - origin) * 1e-6;
        picks.back().push_back(pick);
        sources.back().push_back(onset);
    }
    const size_t traces = picks.size();
    std::vector<const Pick *> pick_arrays(traces);
    std::vector<int32_t> counts(traces);
    std::vector<double> tolerances(traces, tolerance_);
    std::vector<std::vector<uint8_t>> taken(traces);
    std::vector<uint8_t *> taken_arrays(traces);
    for (size_t t = 0; t < traces; ++t) {
        pick_arrays[t] = picks[t].data();
        counts[t] = static_cast<int32_t>(picks[t].size());
        taken[t].assign(picks[t].size(), 0);
        taken_arrays[t] = taken[t].data();
    }
    // At most one capture per onset, each a block of one slot per trace.
    const auto members = zeroed<const Pick *>(count * traces);
    const auto member_traces = zeroed<int32_t>(count * traces);
    const auto sizes = zeroed<int32_t>(count);
    const CaptureSet set{members.get(), member_traces.get(), sizes.get(), static_cast<int32_t>(traces)};
    const int32_t found = captures(&set, pick_arrays.data(), counts.data(), tolerances.data(), taken_arrays.data());
    if (found < 0) throw std::bad_alloc();

    std::vector<Event> block_events;
    for (int32_t g = 0; g < found; ++g) {
        Event event{};
        for (int32_t s = 0; s < sizes[g]; ++s) {
            const size_t slot = static_cast<size_t>(g) * traces + static_cast<size_t>(s);
            const size_t t = static_cast<size_t>(member_traces[slot]);
            const TimedOnset &onset = *sources[t][static_cast<size_t>(members[slot] - picks[t].data())];
            event.picks.push_back(
                {onset.channel, onset.phase, onset.time, onset.strength, onset.uncertainty, onset.polarity});
            event.clear = event.clear || onset.clear;
            for (const TimedOnset &wave : s_waves_)
                if (wave.train_channel == onset.channel && wave.train == onset.time)
                    event.picks.push_back(
                        {wave.channel, wave.phase, wave.time, wave.strength, wave.uncertainty, wave.polarity});
        }
        settle(event, station_);
        block_events.push_back(std::move(event));
    }
    std::stable_sort(block_events.begin(), block_events.end(),
                     [](const Event &a, const Event &b) { return a.earliest < b.earliest; });
    for (Event &event : block_events) {
        // Against the events before it, latest first.
        for (auto e = held_.rbegin(); e != held_.rend() && !event.picks.empty(); ++e) {
            if (event.earliest - e->earliest > train_span_) break;
            if (!merge_later_picks(*e, event, unit_, moveout_, later_wave_span_)) continue;
            settle(*e, station_);
            settle(event, station_);
        }
        // Losing picks to earlier events may have made it later than the
        // next one of its block: held events stay in the order of their
        // earliest picks, which is the order they are handed out in.
        if (event.stations > 0)
            held_.insert(std::upper_bound(held_.begin(), held_.end(), event.earliest,
                                          [](int64_t t, const Event &e) { return t < e.earliest; }),
                         std::move(event));
    }
}

void EventGrouping::release(int64_t horizon, std::deque<Event> &events)
{
    // An event is final once every P that could still join it, as a late
    // station or as a later wave of one of its stations (see
    // merge_later_picks), has been grouped.
    while (!held_.empty()) {
        Event &event = held_.front();
        int64_t reach = event.earliest + moveout_;
        for (const onset_pick &pick : event.picks)
            if (pick.phase == 'P') reach = std::max(reach, pick.time + later_wave_span_);
        if (horizon <= reach || (!pending_.empty() && pending_.front().time <= reach)) break;
        if (event.stations >= min_stations_ && event.clear) {
            std::stable_sort(event.picks.begin(), event.picks.end(), [&](const onset_pick &a, const onset_pick &b) {
                return rank_[a.channel] != rank_[b.channel] ? rank_[a.channel] < rank_[b.channel] : a.time < b.time;
            });
            events.push_back(std::move(event));
        }
        held_.pop_front();
    }
}

int64_t EventGrouping::settled(int64_t horizon) const
{
    // Events still held, and those the P onsets still pending or to come
    // will make: a merge moves picks only into an event held before them.
    int64_t first = horizon;
    for (const TimedOnset &onset : pending_) first = std::min(first, onset.time);
    for (const Event &event : held_) first = std::min(first, event.earliest);
    return first;
}

}  // namespace detect
