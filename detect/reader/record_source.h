// The records of every channel in time order, read from disk and decoded a
// time slice at a time, so that no more than a slice of samples per reading
// thread is ever in memory.
#ifndef ONSET_DETECT_READER_RECORD_SOURCE_H
#define ONSET_DETECT_READER_RECORD_SOURCE_H

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

private:
    std::mutex lock_;
    std::deque<std::string> lines_;
    std::set<std::string> said_;
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
};

class RecordSource {
public:
    explicit RecordSource(Warnings &warnings) : warnings_(warnings) {}
    ~RecordSource();
    RecordSource(const RecordSource &) = delete;
    RecordSource &operator=(const RecordSource &) = delete;

    // Indexes the files (side by side) and queues the records of the
    // selected channels. A file that is not miniSEED is left out with a
    // warning; so are records that change their channel's rate.
    void add_files(const std::vector<std::string> &paths, const ChannelSelection &selection);
    // Records wholly outside [from, to) are left unread from then on.
    void set_span(Microseconds from, Microseconds to)
    {
        from_ = from;
        to_ = to;
    }

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
    // Queues the records of one indexed file; notes the channels it adds to.
    void queue_file(const std::string &path, const FileIndex &index, const std::vector<std::string> &said,
                    const ChannelSelection &selection, std::vector<ChannelRecords *> &touched);
    void queue(uint32_t file, const RecordHeader &record, const ChannelSelection &selection);

    Warnings &warnings_;
    std::deque<File> files_;
    std::map<std::string, ChannelRecords> channels_;
    Microseconds from_ = std::numeric_limits<Microseconds>::min();
    Microseconds to_ = std::numeric_limits<Microseconds>::max();
};

}  // namespace reading

#endif
