// One pick of each phase per station and event: the onsets of a station's
// components merged into the station's own P and S picks.
#ifndef ONSET_DETECT_STATION_PICKS_H
#define ONSET_DETECT_STATION_PICKS_H

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "channel.h"

namespace detect {

// The part a channel plays in its station: NET.STA.LOC and the band and
// instrument codes (the channel code but its last letter) make the station;
// the last letter is the component.
enum class Component { vertical, horizontal, single };

// The station key and component of a channel id NET.STA.LOC.CHA. A channel
// code of three letters ending in Z, N, E, 1 or 2 is a component of the
// station named by the rest; any other channel is a station of its own.
std::pair<std::string, Component> station_component(const std::string &id);

// The P of a three-component station is picked on its vertical, where the
// S wave is weak; the horizontals' onsets within `duplicate_span` of it are
// that same P. Its S is chosen among the candidates after the P, within
// `s_span`: a horizontal's own onset first (its picker may have seen it as
// a P: the S is often the first strong arrival there), then the S searched
// after the P on a horizontal. A station without horizontals takes the S
// searched on its vertical, or the vertical's S label; one without a
// vertical is picked on its horizontals as one channel; one of a single
// channel, on it alone. At most one P and one S per wave train: the S is
// handed out with the P's time and channel, so that it joins the P's event
// and never begins one. Both go out when the train is over: a later onset
// of the vertical soon after the first (a P, or one its own train took for
// an S) may prove to be the arrival and the first noise just before it
// (set_arrival_test); the train then goes on from that onset, as its P, and
// the first goes. A vertical P that does not stand out clearly enough to
// make an event on its own does so when the train has an S, more
// horizontal than it, and the horizontals see the P stand out too
// (set_clear_test): a vertical noisier than its horizontals is common,
// while noise seldom rises on every component at once with an S after it.
class StationPicks {
public:
    StationPicks(int64_t duplicate_span, int64_t s_span) : duplicate_span_(duplicate_span), s_span_(s_span)
    {
    }

    void add_channel(int32_t channel, Component component);
    void add(const std::vector<TimedOnset> &onsets);

    // Searches the S of the P at `p` (a time) on the station's horizontals
    // up to `end`: true with the S in `s`, false when there is none. The
    // station asks once a train is over, when the horizontals' samples up
    // to `end` are final.
    using SSearch = std::function<bool(int64_t p, int64_t end, TimedOnset &s)>;
    void set_search(SSearch search) { search_ = std::move(search); }
    // Whether an onset at `onset` after the P at `p` is the arrival, that P
    // noise just before it, reading the samples before `end`.
    using Arrival = std::function<bool(int64_t p, int64_t onset, int64_t end)>;
    void set_arrival_test(Arrival test, int64_t span, int64_t reach)
    {
        arrival_ = std::move(test);
        arrival_span_ = span;
        arrival_reach_ = reach;
    }
    // Whether the horizontals see a P at `p` stand out of their noise, and
    // the S at `s` is more horizontal than it, reading the samples before
    // `end`.
    using ClearTest = std::function<bool(int64_t p, int64_t s, int64_t end)>;
    void set_clear_test(ClearTest test) { clear_test_ = std::move(test); }
    int32_t vertical() const { return vertical_; }
    const std::vector<int32_t> &horizontals() const { return horizontals_; }
    // The earliest time whose samples a search may still read.
    int64_t search_from() const { return in_train_ ? train_time_ : decided_; }

    // Decides every onset no later onset of the channels can change, given
    // that none comes before `channels_horizon`, and appends the station's
    // picks among them to `picks`. Returns the station's horizon: no pick
    // released later lies before it.
    int64_t release(int64_t channels_horizon, std::vector<TimedOnset> &picks);

    // Appends, once each, the P picks that release will hand out, as soon as
    // no P of the channels can come before them (none comes before
    // `channels_p_horizon`): a P is decided by the P picks before it, not by
    // its train's S, which may be searched for seconds longer. Called before
    // each release, with a horizon no earlier than its own, it announces
    // every P before release hands it out.
    void announce_p(int64_t channels_p_horizon, std::vector<TimedOnset> &picks);

private:
    // Whether the channel's onsets can be the station's P.
    bool picks_on(int32_t channel) const;
    // Whether the vertical has a P among the pending onsets from `from` on,
    // within the duplicate span after `time`.
    bool vertical_p_within(size_t from, int64_t time) const;
    // How good an S of the current train the onset is: 0 best, -1 none.
    int s_rank(const TimedOnset &onset) const;
    // Hands out the train's best S and ends it.
    void close_train(int64_t end, std::vector<TimedOnset> &picks);
    // Whether an onset at `time` is another view of the train's P at `p`.
    bool same_p(bool in_train, int64_t p, int64_t time) const;
    // Orders the pending onsets by time, then channel.
    void sort_pending();

    int64_t duplicate_span_, s_span_;
    int32_t vertical_ = -1;
    std::vector<int32_t> horizontals_;
    std::vector<TimedOnset> pending_;  // by time, then channel
    bool in_train_ = false;
    int64_t train_time_ = 0;
    int32_t train_channel_ = 0;
    TimedOnset train_p_{};  // handed out when the train is over
    TimedOnset best_s_{};  // phase 'S' once the train has a candidate
    int best_rank_ = 0;
    SSearch search_;
    Arrival arrival_;
    ClearTest clear_test_;
    int64_t arrival_span_ = 0;   // how far after an onset the test reads
    int64_t arrival_reach_ = 0;  // how far after the noise the arrival may come
    int64_t decided_ = std::numeric_limits<int64_t>::min();
    // The time and channel of the last P announced.
    std::pair<int64_t, int32_t> announced_{std::numeric_limits<int64_t>::min(), 0};
};

}  // namespace detect

#endif
