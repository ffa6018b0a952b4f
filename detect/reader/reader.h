// The reader behind onset_reader: miniSEED files, folders or an SDS archive,
// chosen by channel patterns and a time span, read a time slice at a time.
#ifndef ONSET_DETECT_READER_READER_H
#define ONSET_DETECT_READER_READER_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

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
    // A day before the next day file to index (it may hold the day before
    // its own): no record of a file not yet indexed starts earlier.
    // INT64_MAX when every file is indexed.
    Microseconds next_unindexed() const;

    // Adds the day files of the days before `until`, a day at a time, and
    // calls day_loaded after each day's (every file, the first time, when
    // there are no days), so that channels met on one day are taken up
    // before the next day's.
    void load(Microseconds until, const std::function<void()> &day_loaded = {});

    // The channels met so far, in the order of their ids.
    std::vector<ChannelRecords *> channels() { return source_.channels(); }

    // Reads the channel's records that start before `until` and hands their
    // samples to `take` (first sample's time, samples, count), records that
    // follow on one another joined into one stretch. Calls for different
    // channels may run at the same time.
    void read_stretches(ChannelRecords &channel, Microseconds until, const RecordSource::Feed &take);

    // The next run of contiguous samples of one channel from the records
    // that start before `until`, by channel id, then time; false when
    // none is left.
    bool next_chunk(Microseconds until, Chunk &chunk);

    // Warns about every text channel: the end of reading.
    void finish();

    Warnings &warnings() { return warnings_; }

private:
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
