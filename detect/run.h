// One run of a detector: over a reader, slice by slice, over a live
// SeedLink stream, record by record, or over what the host adds and feeds.
// It declares the channels, feeds them side by side, lets the detector
// finish what each slice allows, judges at the end which channels could be
// used, and says what it left out.
#ifndef ONSET_DETECT_RUN_H
#define ONSET_DETECT_RUN_H

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detector.h"
#include "live_input.h"
#include "reader.h"

namespace detect {

class Run {
public:
    // Over `reader` (borrowed; nullptr: the host adds and feeds), `chunk`
    // microseconds of every channel a slice.
    Run(const onset_detect_options &options, reading::Reader *reader, int64_t chunk);
    // Over a live stream, which the run owns.
    Run(const onset_detect_options &options, std::unique_ptr<LiveInput> live);

    // Reads, feeds and advances the next slice; after the last one,
    // finishes. False once finished. Over a live stream: feeds the records
    // that come within a moment and advances past the channels silent for
    // longer than the stream's max latency; true until finished.
    bool step();

    // A channel of the host's: its number, or a negative code when its rate
    // cannot be used (then warned about). Throws Failure otherwise.
    int32_t add_channel(const std::string &id, double rate);
    // Before the first channel: Detector::set_station_options.
    void set_station_options(const std::string &pattern, const onset_detect_options &options);
    void feed(int32_t channel, int64_t start, const double *samples, size_t count);
    // A miniSEED record of the host's, its channel declared when new. A
    // record that cannot be used, or its samples before the time advanced
    // to, are left out with a warning.
    void feed_record(const char *bytes, size_t length);
    // The host's promise that no sample before `time` will come.
    void advance(int64_t time);

    // Flushes the detector and warns about every channel that proved
    // unusable; the reader then about its text channels.
    void finish();

    Detector &detector() { return detector_; }
    const Detector &detector() const { return detector_; }
    reading::Warnings &warnings() { return reader_ ? reader_->warnings() : own_warnings_; }
    bool driven() const { return reader_ != nullptr || live_ != nullptr; }

    // The id of a channel, or nullptr.
    const std::string *channel_id(int32_t number) const;
    // Why the channel's samples could not be used so far, "" when they could.
    std::string verdict(int32_t number) const;
    // Stations with a usable channel.
    int32_t usable_stations() const;

    int64_t reached() const { return reached_; }
    uint64_t samples() const { return samples_; }

private:
    int32_t declare(const std::string &id, double rate);
    // Declares the reader's channels met so far that hold samples.
    void declare_read();
    void slice(int64_t until);
    bool live_step();
    // Decodes and feeds record_; returns the end of its samples, or
    // INT64_MIN when none were used.
    int64_t take_record();
    // Warns about the late records since the last call, a line per channel.
    void say_late();

    Detector detector_;
    reading::Reader *reader_;
    std::unique_ptr<LiveInput> live_;
    reading::Warnings own_warnings_;
    int64_t chunk_, next_;
    bool finished_ = false;
    std::set<std::string> seen_;
    std::vector<std::pair<reading::ChannelRecords *, int32_t>> read_channels_;
    std::vector<std::string> ids_;  // by number
    std::vector<double> rates_;
    int64_t reached_ = INT64_MIN;
    int64_t advanced_ = INT64_MIN;
    // Records fed whole: their channels' numbers (negative: left out), and
    // the record and samples being decoded.
    std::map<std::string, int32_t> record_channels_;
    std::vector<char> record_;
    std::vector<double> record_samples_;
    // Each channel's late records not yet warned about: from, to, and the
    // time the run had moved on to.
    struct LateSpan {
        int64_t from, to, passed;
    };
    std::map<int32_t, LateSpan> late_;
    uint64_t samples_ = 0;
};

}  // namespace detect

#endif
