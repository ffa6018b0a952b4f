// The records of every channel in time order, read from disk and decoded a
// time slice at a time, so that no more than a slice of samples per reading
// thread is ever in memory.
#ifndef ONSET_DETECT_READER_RECORD_SOURCE_H
#define ONSET_DETECT_READER_RECORD_SOURCE_H

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "inputs.h"
#include "miniseed.h"

namespace reading {

// Warning lines for the host, from any thread, each said once, in the order
// given.
class Warnings {
public:
    void add(const std::string &line);
    // Moves the oldest line not yet taken to `line`; false when none is left.
    bool take(std::string &line);

    // Lines added from here to settle(), while channels are read side by
    // side, come in whatever order the threads finish: settle() puts them
    // after the earlier ones in the order of their text (each begins with
    // its channel's id), so that a run says them the same way every time.
    void unsettle();
    void settle();

private:
    std::mutex lock_;
    std::deque<std::string> lines_;
    std::set<std::string> said_;
    bool unsettled_ = false;
    std::vector<std::string> unsettled_lines_;
};

struct ChannelRecords {
    struct Ref {
        uint32_t file;
        uint32_t length;
        uint64_t offset;
        Microseconds start;
        int64_t samples;
    };
    std::string id;
    double rate = 0.0;         // of its first record with samples
    std::deque<Ref> records;   // not yet read, by start time
    bool has_samples = false;  // some record of it holds samples
    bool has_text = false;     // some record of it is text

    // The samples read last, long enough to hold whatever a record read
    // next may overlap (records come by start time), so that overlaps with
    // other samples are told.
    std::vector<double> recent;
    std::vector<uint32_t> recent_files;  // the file of each
    Microseconds recent_start = 0;
    int64_t longest_record = 0;  // samples
    // Overlapping samples that differ, gathered into one warning while
    // records go on differing.
    struct Conflict {
        Microseconds from = 0, to = 0;
        std::set<uint32_t> files;  // empty: none
    } conflict;
};

class RecordSource {
public:
    explicit RecordSource(Warnings &warnings) : warnings_(warnings) {}
    ~RecordSource();
    RecordSource(const RecordSource &) = delete;
    RecordSource &operator=(const RecordSource &) = delete;

    // Indexes the files (side by side) and queues the records of the
    // selected channels. A file that is not miniSEED is left out with a
    // warning; so are records that change their channel's rate. Files of
    // one archive `day` (its first microsecond) warn about records that lie
    // outside it; they are queued in their place all the same.
    static constexpr Microseconds no_day = std::numeric_limits<Microseconds>::min();
    void add_files(const std::vector<std::string> &paths, const ChannelSelection &selection,
                   Microseconds day = no_day);
    // Records wholly outside [from, to) are left unread from then on.
    void set_span(Microseconds from, Microseconds to)
    {
        from_ = from;
        to_ = to;
    }
    // Every record that starts before `time` has been read: one queued
    // later would come too late, and is left out with a warning.
    void set_read_until(Microseconds time) { read_until_ = std::max(read_until_, time); }

    // The channels met so far, in the order of their ids.
    std::vector<ChannelRecords *> channels();
    ChannelRecords *find(const std::string &id);

    // Reads and decodes the first queued record of `channel` and hands its
    // samples within [from, to) to `feed` (first sample time, samples,
    // count), unless none lies there or the record cannot be read (then with
    // a warning). Calls for different channels may run at the same time.
    using Feed = std::function<void(Microseconds, const double *, size_t)>;
    void read_record(ChannelRecords &channel, Microseconds from, Microseconds to, const Feed &feed);

    // The first queued record's start over all channels, and the latest end.
    Microseconds first_start() const;
    Microseconds last_end() const;

private:
    struct File {
        std::string path;
        int descriptor = -1;
        std::atomic<int64_t> unread{0};  // records queued; the file closes at 0
    };
    // Queues the records of one indexed file (of an archive's `day`, or
    // no_day); notes the channels it adds to.
    void queue_file(const std::string &path, const FileIndex &index, const std::vector<std::string> &said,
                    const ChannelSelection &selection, Microseconds day, std::vector<ChannelRecords *> &touched);
    // Queues a record; false when it comes too late.
    bool queue(uint32_t file, const RecordHeader &record, const ChannelSelection &selection);
    // Warns about samples that differ from the recent ones for the same
    // times, then makes them recent.
    void compare_overlap(ChannelRecords &channel, uint32_t file, Microseconds start,
                         const std::vector<double> &samples);
    void say_conflict(ChannelRecords &channel);

    Warnings &warnings_;
    std::deque<File> files_;
    std::map<std::string, ChannelRecords> channels_;
    Microseconds from_ = std::numeric_limits<Microseconds>::min();
    Microseconds to_ = std::numeric_limits<Microseconds>::max();
    Microseconds read_until_ = std::numeric_limits<Microseconds>::min();
};

}  // namespace reading

#endif
