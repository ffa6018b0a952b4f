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

// A horizontal's own onset after the P is the sharpest sign of the S; the
// S searched after the P on a horizontal (or, without one, on the vertical)
// comes next; a vertical's S label last.
int StationPicks::s_rank(const TimedOnset &onset) const
{
    const bool horizontal =
        std::find(horizontals_.begin(), horizontals_.end(), onset.channel) != horizontals_.end();
    if (onset.searched) {
        // It counts for this P only when it was searched after this P, as
        // its channel saw it.
        const bool own_train =
            onset.train - train_time_ <= duplicate_span_ && train_time_ - onset.train <= duplicate_span_;
        return own_train && (horizontal || horizontals_.empty()) ? 1 : -1;
    }
    if (horizontal) return 0;
    return horizontals_.empty() && onset.phase == 'S' ? 2 : -1;
}

void StationPicks::close_train(int64_t end, std::vector<TimedOnset> &picks)
{
    TimedOnset searched{};
    if (in_train_ && search_ && !(best_s_.phase == 'S' && best_rank_ <= 1) && search_(train_time_, end, searched)) {
        best_s_ = searched;
        best_rank_ = 1;
    }
    if (in_train_ && !train_p_.clear && train_p_.channel == vertical_ && best_s_.phase == 'S' && clear_test_)
        train_p_.clear = clear_test_(train_time_, best_s_.time, end);
    if (in_train_) picks.push_back(train_p_);
    if (in_train_ && best_s_.phase == 'S') {
        picks.push_back(best_s_);
        picks.back().train = train_time_;
        picks.back().train_channel = train_channel_;
    }
    best_s_.phase = 0;
    in_train_ = false;
}

bool StationPicks::same_p(bool in_train, int64_t p, int64_t time) const
{
    return in_train && time - p <= duplicate_span_;
}

void StationPicks::sort_pending()
{
    std::stable_sort(pending_.begin(), pending_.end(), [](const TimedOnset &a, const TimedOnset &b) {
        return a.time != b.time ? a.time < b.time : a.channel < b.channel;
    });
}

void StationPicks::announce_p(int64_t channels_p_horizon, std::vector<TimedOnset> &picks)
{
    // Release's choice of P, on from where it stands: a P is taken unless
    // it falls within the duplicate span of the last one taken (a train
    // that ended is further back than that).
    sort_pending();
    bool in_train = in_train_;
    int64_t last_p = train_time_;
    for (const TimedOnset &onset : pending_) {
        if (onset.time >= channels_p_horizon) break;
        if (!picks_on(onset.channel) || onset.phase != 'P' || same_p(in_train, last_p, onset.time)) continue;
        in_train = true;
        last_p = onset.time;
        const std::pair<int64_t, int32_t> key{onset.time, onset.channel};
        if (key <= announced_) continue;
        picks.push_back(onset);
        announced_ = key;
    }
}

int64_t StationPicks::release(int64_t channels_horizon, std::vector<TimedOnset> &picks)
{
    // An onset is decided once every onset within the duplicate span after
    // it is known.
    int64_t decided = channels_horizon == std::numeric_limits<int64_t>::max()
                          ? channels_horizon
                          : std::max(channels_horizon, std::numeric_limits<int64_t>::min() + duplicate_span_) -
                                duplicate_span_;
    sort_pending();
    size_t i = 0;
    for (; i < pending_.size() && pending_[i].time < decided; ++i) {
        const TimedOnset &onset = pending_[i];
        if (in_train_ && onset.time - train_time_ > s_span_) close_train(train_time_ + s_span_, picks);
        const bool after_p = in_train_ && !same_p(in_train_, train_time_, onset.time);
        // The vertical's own train may have taken the arrival for the S of
        // the noise before it.
        const bool vertical_s = onset.channel == vertical_ && !horizontals_.empty() && onset.phase == 'S' &&
                                !onset.searched;
        if ((picks_on(onset.channel) && onset.phase == 'P') || vertical_s) {
            // Another horizontal's view of the P just picked.
            if (same_p(in_train_, train_time_, onset.time)) continue;
            if (after_p && arrival_ && onset.time - train_time_ <= arrival_reach_) {
                // Decided once the samples the test reads are final.
                if (onset.time + arrival_span_ > decided) {
                    decided = onset.time;
                    break;
                }
                if (arrival_(train_time_, onset.time, onset.time + arrival_span_)) {
                    // The train goes on from this P; the noise before it goes.
                    const bool clear = train_p_.clear || onset.clear;
                    train_p_ = onset;
                    train_p_.phase = 'P';
                    train_p_.clear = clear;
                    train_time_ = onset.time;
                    train_channel_ = onset.channel;
                    best_s_.phase = 0;
                    continue;
                }
            }
            if (!vertical_s) {
                close_train(std::min(onset.time, train_time_ + s_span_), picks);
                train_p_ = onset;
                in_train_ = true;
                train_time_ = onset.time;
                train_channel_ = onset.channel;
                continue;
            }
        }
        // The S, the P seen on a horizontal, or coda.
        if (!after_p || (!picks_on(onset.channel) && vertical_p_within(i + 1, onset.time))) continue;
        const int rank = s_rank(onset);
        if (rank < 0 || (best_s_.phase == 'S' && rank >= best_rank_)) continue;
        best_s_ = onset;
        best_s_.phase = 'S';
        best_rank_ = rank;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
    // Every S candidate of the train has come once the search after its P
    // is over.
    decided_ = decided;
    if (in_train_ && (decided == std::numeric_limits<int64_t>::max() || decided - train_time_ > s_span_))
        close_train(train_time_ + s_span_, picks);
    return in_train_ ? std::min(decided, train_time_) : decided;
}

}  // namespace detect
