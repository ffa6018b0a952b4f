// The detection engine as the tool uses it: the C handle with exceptions.
#ifndef ONSET_DETECT_TOOL_ENGINE_H
#define ONSET_DETECT_TOOL_ENGINE_H

#include <string>
#include <vector>

#include "miniseed.h"
#include "onset_detect.h"
#include "report.h"

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
    void check(int status) const;

    onset_detector *detector_;
    std::vector<std::string> ids_;  // by channel number
};

}  // namespace tool

#endif
