// One channel of a detector: its samples in, its onsets out.
#ifndef ONSET_DETECT_CHANNEL_H
#define ONSET_DETECT_CHANNEL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "onset_detect.h"
#include "onset_picker.h"
#include "settings.h"
#include "stage_chain.h"

namespace detect {

// An onset with its time, ready for grouping.
struct TimedOnset {
    int64_t time;  // microseconds since 1970
    int32_t channel;
    double strength;
    int32_t phase;       // 'P' or 'S'
    double uncertainty;  // s
    int64_t train;       // time of the P that began its event at the station
    int32_t train_channel;  // and the channel of that P
    bool clear;          // a P that stands out of the noise by its channel's event_snr
    int32_t polarity;    // 'U', 'D' or 0
    bool searched;       // an S found by searching after its P, not a rise
};

// Sample indices count from 1970 at the channel's rate, from the time of
// its first sample on, so that the pieces of the strength stages start at
// the same samples wherever the input starts.
class Channel {
public:
    Channel(std::string id, int32_t number, const RateSettings &settings, const onset_detect_options &options);

    const std::string &id() const { return id_; }
    // NET.STA: channels of one station count once towards an event.
    const std::string &station() const { return station_; }
    double rate() const { return settings_.rate; }
    double event_snr() const { return event_snr_; }

    // Throws a Failure, and takes nothing, when a sample not fed before lies
    // before the time advanced to.
    void feed(int64_t start, const double *samples, size_t count);
    // No sample before `time` will come beyond those fed.
    void advance(int64_t time);
    void finish();

    // The onsets found since the last call.
    std::vector<TimedOnset> take_onsets();
    // No onset found later lies before this time.
    int64_t horizon() const;
    // No P found later lies before this time: only the S searched after the
    // last P may still come earlier.
    int64_t p_horizon() const;

    onset_channel_report report() const;

    // From now on its samples are only kept, no onsets found: a horizontal
    // whose station picks on its vertical and reads its band-passed samples
    // where it looks for the S. Only before its first sample; returns
    // whether it is so now.
    bool samples_only();
    bool is_samples_only() const { return samples_only_; }
    const RateSettings &settings() const { return settings_; }
    // Keeps its samples beside the onsets too, for the windows events pick
    // in: only before its first sample.
    void keep_samples();
    // Keeps its samples beside the onsets for its station, which reads them
    // from the time it holds (hold_from) on: a vertical whose station
    // weighs its P against later onsets. Only before its first sample;
    // returns whether it does so.
    bool keep_for_station();
    // The samples its station (samples only, or kept for it) and the
    // events' windows (samples kept) still read are from these times on; the
    // band-pass of those held over [from, to) (indices), NaN where there is
    // none.
    void hold_from(int64_t time);
    void hold_for_windows(int64_t time);
    std::vector<double> band_passed(int64_t from, int64_t to) const;

    int64_t index_of(int64_t time) const;
    int64_t time_of(int64_t index) const;

private:
    // The time of the picker's horizon `reach` for the strength still to
    // come.
    int64_t picker_horizon(int64_t (OnsetPicker::*reach)(int64_t) const) const;

    std::string id_, station_;
    int32_t number_;
    double event_snr_;
    const RateSettings &settings_;
    OnsetPicker picker_;
    std::unique_ptr<StageChain> stages_;
    bool samples_only_ = false;
    bool keeping_ = false;
    bool kept_for_station_ = false;
    int64_t station_hold_ = INT64_MIN, windows_hold_ = INT64_MIN;
    void apply_hold();

    bool started_ = false;
    bool finished_ = false;
    int64_t first_time_ = 0, first_index_ = 0;  // the first sample's time and index
    int64_t next_index_ = 0;                    // the sample after the last one fed
    int64_t advanced_ = INT64_MIN;              // no sample will come before this time
    onset_channel_report report_{};             // what the stages do not count
};

}  // namespace detect

#endif
