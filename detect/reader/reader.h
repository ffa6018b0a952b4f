// The reader behind onset_reader: miniSEED files, folders or an SDS archive,
// chosen by channel patterns and a time span, handed to a detector or to the
// host a time slice at a time.
#ifndef ONSET_DETECT_READER_READER_H
#define ONSET_DETECT_READER_READER_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detector.h"
#include "inputs.h"
#include "record_source.h"

namespace reading {

// A contiguous run of one channel's samples, as onset_reader_next_chunk
// hands it out.
struct Chunk {
    const std::string *id;
    double rate;
    Microseconds start;
    const std::vector<double> *samples;
};

class Reader {
public:
    // Files, and the files under folders (recursively). Throws ReadError.
    Reader(const std::vector<std::string> &paths, const std::string &channels, Microseconds start,
           Microseconds end);
    // The day files of an SDS archive that meet [start, end). Throws
    // ReadError, also when there are none.
    Reader(const std::string &root, const std::string &channels, Microseconds start, Microseconds end);

    // The times the input covers, within [start, end).
    Microseconds begin() const { return begin_; }
    Microseconds end() const { return end_; }
    // The earliest time a sample may still be fed or handed out: the first
    // queued record's start, or a day before the next day file to index
    // (it may hold the day before its own); INT64_MAX when none is left.
    Microseconds next_time() const;

    // Declares the channels met in the files of days before `until`, then
    // feeds every declared channel's records that start before it, channels
    // side by side. Returns the samples fed. Throws detect::Failure.
    uint64_t feed(detect::Detector &detector, Microseconds until);

    // The next run of contiguous samples of one channel from the records
    // that start before `until`, by channel id, then time; false when
    // none is left.
    bool next_chunk(Microseconds until, Chunk &chunk);

    // Warns about every declared channel that proved unusable and every
    // text channel; returns the number of stations with a usable channel.
    int32_t finish(const detect::Detector *detector);

    // The id of a channel the reader declared, or nullptr.
    const std::string *channel_id(int32_t number) const;

    Warnings &warnings() { return warnings_; }

private:
    // Adds the day files of the days before `until` and declares their new
    // channels, a day at a time (every file, the first time, when there
    // are no days).
    void load(Microseconds until, detect::Detector *detector);
    void declare(detect::Detector &detector);
    // Reads the channel's next record into the pending run; false when its
    // samples lie outside [start, end) or it cannot be read.
    bool read_pending(ChannelRecords &channel);

    Warnings warnings_;
    RecordSource source_;
    ChannelSelection selection_;
    Microseconds start_, end_input_;  // as asked
    Microseconds begin_, end_;        // as held
    std::vector<std::string> files_;  // to add at the first load
    std::vector<DayFile> days_;
    size_t next_day_ = 0;

    const detect::Detector *detector_ = nullptr;  // the one fed
    std::set<std::string> seen_;
    std::vector<std::pair<ChannelRecords *, int32_t>> declared_;
    std::vector<std::string> ids_;  // by channel number

    // next_chunk: each channel's first sample handed out (its time grid),
    // the run being handed out and a record read that did not join it.
    std::map<std::string, Microseconds> first_time_;
    std::vector<double> run_;
    struct Pending {
        ChannelRecords *channel = nullptr;
        Microseconds start = 0;
        std::vector<double> samples;
    } pending_;
};

}  // namespace reading

#endif
