// A channel's samples through band-pass, strength and picker.
#include "channel.h"

#include "failure.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace detect {

Channel::Channel(std::string id, int32_t number, const RateSettings &settings, const onset_detect_options &options)
    : id_(std::move(id)),
      station_(id_.substr(0, id_.find('.', id_.find('.') + 1))),
      number_(number),
      event_snr_(options.event_snr),
      settings_(settings),
      picker_(settings, options.threshold, options.min_snr, options.event_snr),
      stages_(std::make_unique<StageChain>(settings, &picker_))
{
    report_.needed_run = settings.needed_run();
}

bool Channel::samples_only()
{
    if (!started_ && !samples_only_) {
        stages_ = std::make_unique<StageChain>(settings_, nullptr);
        samples_only_ = true;
    }
    return samples_only_;
}

void Channel::keep_samples()
{
    if (started_) return;
    stages_->keep_samples();
    keeping_ = true;
}

bool Channel::keep_for_station()
{
    if (!started_ && !kept_for_station_) {
        stages_->keep_samples();
        kept_for_station_ = true;
    }
    return kept_for_station_;
}

void Channel::hold_from(int64_t time)
{
    station_hold_ = time;
    apply_hold();
}

void Channel::hold_for_windows(int64_t time)
{
    windows_hold_ = time;
    apply_hold();
}

void Channel::apply_hold()
{
    int64_t time = INT64_MAX;
    if (samples_only_ || kept_for_station_) time = station_hold_;
    if (keeping_) time = std::min(time, windows_hold_);
    // Times before the first sample hold everything (and stay clear of
    // overflow).
    if (time != INT64_MAX && started_ && time > first_time_) stages_->hold_from(index_of(time) - 1);
}

std::vector<double> Channel::band_passed(int64_t from, int64_t to) const
{
    if (!started_) return std::vector<double>(static_cast<size_t>(to - from), std::numeric_limits<double>::quiet_NaN());
    return stages_->band_passed(from, to);
}

int64_t Channel::index_of(int64_t time) const
{
    return first_index_ + std::llround(static_cast<double>(time - first_time_) * settings_.rate * 1e-6);
}

int64_t Channel::time_of(int64_t index) const
{
    return first_time_ + std::llround(static_cast<double>(index - first_index_) * 1e6 / settings_.rate);
}

void Channel::feed(int64_t start, const double *samples, size_t count)
{
    if (count == 0) return;
    // Samples already covered are dropped (the samples given first are
    // kept); a new one before the watermark can no longer be used.
    uint64_t covered = 0;
    int64_t first = 0;
    if (started_) {
        first = index_of(start);
        if (first < next_index_) covered = std::min<uint64_t>(count, static_cast<uint64_t>(next_index_ - first));
        first += static_cast<int64_t>(covered);
    }
    if (covered < count && advanced_ != INT64_MIN) {
        const int64_t time = started_ ? time_of(first) : start;
        if (time < advanced_)
            throw Failure{ONSET_DETECT_LATE, "channel " + id_ + ": samples from " + std::to_string(time) +
                                                 " us fed after the detector was advanced to " +
                                                 std::to_string(advanced_) + " us"};
    }
    if (!started_) {
        started_ = true;
        first_time_ = start;
        first_index_ = std::llround(static_cast<double>(start) * settings_.rate * 1e-6);
        next_index_ = first = first_index_;
    }
    report_.overlapped += covered;
    if (covered == count) return;
    samples += covered;
    count -= covered;
    if (first > next_index_) report_.missing += static_cast<uint64_t>(first - next_index_);
    stages_->take(first, samples, count);
    next_index_ = first + static_cast<int64_t>(count);
}

void Channel::advance(int64_t time)
{
    advanced_ = std::max(advanced_, time);
    if (!started_ || finished_) return;
    stages_->advance(index_of(advanced_));
}

void Channel::finish()
{
    if (finished_) return;
    stages_->finish();
    finished_ = true;
}

std::vector<TimedOnset> Channel::take_onsets()
{
    std::vector<TimedOnset> timed;
    for (const Onset &onset : picker_.take_onsets())
        timed.push_back({time_of(onset.index), number_, onset.strength, onset.phase,
                         static_cast<double>(onset.half_width) / settings_.rate, time_of(onset.train),
                         number_, onset.phase == 'P' && onset.snr >= event_snr_ && onset.confirmed, onset.polarity,
                         onset.searched});
    return timed;
}

int64_t Channel::horizon() const { return picker_horizon(&OnsetPicker::horizon); }

int64_t Channel::p_horizon() const { return picker_horizon(&OnsetPicker::excursion_horizon); }

int64_t Channel::picker_horizon(int64_t (OnsetPicker::*reach)(int64_t) const) const
{
    if (finished_) return std::numeric_limits<int64_t>::max();
    if (!started_) return advanced_;
    // Strength still to come lies at or after what the stages hold, or, past
    // those, at or after the next sample to come.
    int64_t upcoming = stages_->pending_from();
    if (upcoming == std::numeric_limits<int64_t>::max())
        upcoming = std::max(next_index_, advanced_ == INT64_MIN ? next_index_ : index_of(advanced_));
    return time_of((picker_.*reach)(upcoming));
}

onset_channel_report Channel::report() const
{
    onset_channel_report report = report_;
    report.samples = stages_->used();
    report.missing += stages_->missing();
    report.longest_run = stages_->longest_run();
    report.onsets = picker_.onset_count();
    return report;
}

}  // namespace detect
