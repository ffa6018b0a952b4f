// The detection engine and its runs over recordings as the tool uses them:
// the C handles with exceptions.
#ifndef ONSET_DETECT_TOOL_ENGINE_H
#define ONSET_DETECT_TOOL_ENGINE_H

#include <string>
#include <vector>

#include "config_file.h"
#include "event_writer.h"
#include "inputs.h"
#include "onset_detect.h"

namespace tool {

// Station metadata and a velocity model to locate the events with; without
// stations, events are not located.
struct LocationFiles {
    std::string stations;
    std::string velocity_model;  // "": the engine's default model
    bool graded = false;
};

class Engine {
public:
    // Throws InputError when the options make no detector or the location
    // files cannot be used.
    Engine(const onset_detect_options &options, const std::vector<StationOptions> &stations,
           const LocationFiles &location);
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
    // From now on the picks are kept as they become final, for take_picks.
    void keep_picks();
    std::vector<onset_pick> take_picks();

    const std::vector<std::string> &ids() const { return ids_; }

private:
    void check(int status) const;

    onset_detector *detector_;
    std::vector<std::string> ids_;  // by channel number
};

// A run of the engine over recordings read by its reader, slice by slice,
// or over a live SeedLink stream.
class Run {
public:
    // Files and folders, or an SDS archive; throws InputError with the
    // reader's reason, after `flag` when one is given, or with the reason
    // the options make no run.
    Run(const onset_detect_options &options, const std::vector<StationOptions> &stations,
        const LocationFiles &location, double chunk, const std::vector<std::string> &paths, const std::string &channels, Microseconds start, Microseconds end);
    Run(const onset_detect_options &options, const std::vector<StationOptions> &stations,
        const LocationFiles &location, double chunk, const std::string &flag, const std::string &root, const std::string &channels, Microseconds start,
        Microseconds end);
    // A SeedLink server's stream; throws InputError with the reason it
    // cannot be had.
    Run(const onset_detect_options &options, const std::vector<StationOptions> &stations,
        const LocationFiles &location, const std::string &server, const std::string &channels,
        const std::string &state, double max_latency);
    ~Run();
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    Microseconds begin() const { return begin_; }
    Microseconds end() const { return end_; }

    // Reads and detects the next slice; false after the last (the run is
    // then finished).
    bool step();
    // The events that became final since the last call.
    std::vector<Event> take();
    // From now on the picks are kept as they become final, for take_picks.
    void keep_picks();
    std::vector<onset_pick> take_picks();
    // Ends the input: the rest becomes final (a live run's state is saved).
    void finish();
    // The warning lines said since the last call.
    std::vector<std::string> warnings();
    int32_t usable_stations() const { return onset_run_usable_stations(run_); }
    // Whether a channel's samples so far can be used.
    bool usable(int32_t channel);
    // What became of a channel so far (samples used, missing, overlapped).
    onset_channel_report report(int32_t channel) const;
    // The end of the last slice and the samples fed so far.
    Microseconds reached() const;
    uint64_t samples() const;
    // The channels declared so far, by number.
    const std::vector<std::string> &ids() const { return ids_; }

private:
    void opened(onset_reader *reader, const std::string &reason, const onset_detect_options &options,
                const std::vector<StationOptions> &stations, const LocationFiles &location, double chunk);
    // Per-station options and location: the run is destroyed and
    // InputError thrown with the engine's reason when they cannot be had.
    void set_station_options(const std::vector<StationOptions> &stations);
    void locate(const LocationFiles &location);
    void declared();
    void check(int status) const;

    onset_reader *reader_ = nullptr;
    onset_run *run_ = nullptr;
    Microseconds begin_ = 0, end_ = 0;
    std::vector<std::string> ids_;
};

}  // namespace tool

#endif
