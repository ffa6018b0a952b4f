// The detection engine and its reader as the tool uses them: the C handles
// with exceptions.
#ifndef ONSET_DETECT_TOOL_ENGINE_H
#define ONSET_DETECT_TOOL_ENGINE_H

#include <string>
#include <vector>

#include "event_writer.h"
#include "inputs.h"
#include "onset_detect.h"

namespace tool {

class Engine {
public:
    // Throws InputError when the options make no detector.
    explicit Engine(const onset_detect_options &options);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // The channel's number, or -1 with `problem` set when the settings
    // cannot process it.
    int32_t add(const std::string &id, double rate, std::string &problem);
    // May run at the same time for different channels.
    void feed(int32_t channel, Microseconds start, const double *samples, size_t count);
    void advance(Microseconds time);
    void flush();
    // The events that became final since the last call.
    std::vector<Event> take();

    onset_channel_report report(int32_t channel) const;
    const std::vector<std::string> &ids() const { return ids_; }

private:
    friend class Reader;
    void check(int status) const;

    onset_detector *detector_;
    std::vector<std::string> ids_;  // by channel number
};

// Recordings read through the engine's reader.
class Reader {
public:
    // Files and folders, or an SDS archive; throws InputError with the
    // reader's reason, after `flag` when one is given.
    Reader(const std::vector<std::string> &paths, const std::string &channels, Microseconds start,
           Microseconds end);
    Reader(const std::string &flag, const std::string &root, const std::string &channels, Microseconds start,
           Microseconds end);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    Microseconds begin() const { return begin_; }
    Microseconds end() const { return end_; }
    // The earliest time the reader may still feed a sample at.
    Microseconds next_time() const { return onset_reader_next_time(reader_); }

    // Feeds the engine the records that start before `until`; the channels
    // the reader declares join the engine's ids. Returns the samples fed.
    uint64_t feed(Engine &engine, Microseconds until);
    // Says what became of the channels; returns the usable stations.
    int32_t finish(const Engine &engine);
    // The warning lines said since the last call.
    std::vector<std::string> warnings();

private:
    void opened(onset_reader *reader, const std::string &reason);
    void check(int status) const;

    onset_reader *reader_ = nullptr;
    Microseconds begin_ = 0, end_ = 0;
};

}  // namespace tool

#endif
