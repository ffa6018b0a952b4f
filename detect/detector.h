// The detector behind the engine's C interface.
#ifndef ONSET_DETECT_DETECTOR_H
#define ONSET_DETECT_DETECTOR_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "channel.h"
#include "event_grouping.h"
#include "event_location.h"
#include "failure.h"
#include "onset_detect.h"
#include "peer_windows.h"
#include "settings.h"
#include "station_picks.h"

namespace detect {

class Detector {
public:
    explicit Detector(const onset_detect_options &options);

    // Options for the channels of the stations that `pattern` (NET.STA,
    // shell wildcards) matches, declared from now on; the last match wins.
    void set_station_options(const std::string &pattern, const onset_detect_options &options);
    // The options of channel `id`: its station's, or the detector's.
    const onset_detect_options &options_for(const std::string &id) const;
    // Events are located from here on (before the first channel).
    void locate(const std::string &stations_path, const std::string &model_path, bool graded);
    // nullptr unless events are located.
    const EventLocation *location() const { return location_.get(); }

    int32_t add_channel(const std::string &id, double rate);
    void feed(int32_t channel, int64_t start, const double *samples, size_t count);
    void advance(int64_t time);
    void flush();
    // The next final event, or nullptr; it stays valid until the next call.
    const Event *next_event();
    // From now on the final picks, those handed to the grouping, are kept
    // for next_pick as soon as they are decided, a P before its train's end
    // (a host that never takes them keeps none).
    void keep_picks() { keeping_picks_ = true; }
    // The next final pick, or nullptr; it stays valid until the next call.
    const onset_pick *next_pick();
    onset_channel_report report(int32_t channel) const;

    // The reason of the last failure; feeds of different channels may fail
    // at the same time.
    void set_message(const std::string &message);
    const char *message() const { return message_.c_str(); }

private:
    // Channels are the detector's own; a const call may hand one out.
    Channel &channel(int32_t number) const;
    // Hands the channels' new onsets to the grouping and groups what is final.
    void group_final();
    // Keeps a copy of final onsets as picks, for a host that takes them.
    void keep_final(const std::vector<TimedOnset> &onsets);
    // The onset best by AIC over [from, to) (times) on `channels` at once,
    // band-passed from their samples held, where it stands out of what
    // precedes it; on the channel where it is strongest.
    struct WindowOnset {
        int64_t time;
        int32_t channel;
        double uncertainty;  // s
    };
    bool onset_in(const std::vector<int32_t> &channels, int64_t from, int64_t to, WindowOnset &found) const;
    // The S after a P at `p` (a time) on the band-pass-only horizontals of
    // station `unit`, searched up to `end`.
    bool search_s(size_t unit, int64_t p, int64_t end, TimedOnset &s) const;
    // Whether the onset at `onset` after the P at `p` at station `unit` is
    // the arrival, that P noise before it, reading the samples before
    // `end`: far stronger on the vertical than that P, and no more
    // horizontal.
    bool arrival_after_noise(size_t unit, int64_t p, int64_t onset, int64_t end) const;
    // Whether the band-pass-only horizontals of station `unit` see a P at
    // `p` stand out of their noise by the station's event_snr, and its S at
    // `s` is more horizontal than it, reading the samples before `end`: the
    // mean square of the second after the P against that of the 10 s before
    // it and of the last 2 s, so that the coda of an arrival just before it
    // does not count; the ratio of the horizontals' mean square to the
    // vertical's over the second after each.
    bool p_stands_out_on_horizontals(size_t unit, int64_t p, int64_t s, int64_t end) const;
    // An event's pick of `phase` over [from, to) at the station of
    // `channel`.
    bool pick_in_window(int32_t channel, char phase, int64_t from, int64_t to, onset_pick &pick) const;

    // The detector's options first, then each station pattern's, in the
    // order they were set.
    std::vector<onset_detect_options> option_sets_;
    std::vector<std::string> station_patterns_;  // of option_sets_[1 ..]
    // Channels of one rate and one option set share their settings.
    std::map<std::pair<size_t, double>, std::unique_ptr<RateSettings>> settings_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::map<std::string, int32_t> numbers_;  // channel by id
    std::map<std::string, int32_t> stations_;  // station number by NET.STA
    // The stations that pick: NET.STA.LOC and band, their channels the
    // components; each channel's among them.
    std::map<std::string, int32_t> units_by_key_;
    std::vector<StationPicks> units_;
    std::vector<int32_t> unit_of_;
    EventGrouping grouping_;
    std::unique_ptr<EventLocation> location_;
    PeerWindows peers_;  // the windows of events that are not located
    bool ranks_current_ = true;
    std::deque<Event> ready_;
    Event current_;
    bool keeping_picks_ = false;
    std::deque<onset_pick> picks_;
    onset_pick current_pick_{};
    int64_t advanced_ = INT64_MIN;
    bool finished_ = false;
    std::mutex message_lock_;
    std::string message_;
};

}  // namespace detect

#endif
