// The engine's and the reader's C handles behind small C++ classes.
#include "engine.h"

#include <new>
#include <stdexcept>

namespace tool {

namespace {

// An event and its origin, copied out of the engine's records.
Event copied(const onset_event &event)
{
    Event copy{event.earliest, event.stations, {event.picks, event.picks + event.pick_count}, false, {}, {}};
    if (event.origin) {
        copy.located = true;
        copy.origin = *event.origin;
        copy.arrivals.assign(event.origin->arrivals, event.origin->arrivals + event.pick_count);
        copy.origin.arrivals = nullptr;
    }
    return copy;
}

}  // namespace

Engine::Engine(const onset_detect_options &options, const std::vector<StationOptions> &stations,
               const LocationFiles &location)
{
    char message[256];
    detector_ = onset_detector_create(&options, message, sizeof message);
    if (!detector_) throw InputError(message);
    for (const StationOptions &station : stations)
        if (onset_detector_station_options(detector_, station.pattern.c_str(), &station.options) != 0) {
            const std::string reason = onset_detector_message(detector_);
            onset_detector_destroy(detector_);
            throw InputError(reason);
        }
    if (!location.stations.empty() &&
        onset_detector_locate(detector_, location.stations.c_str(), location.velocity_model.c_str(),
                              location.graded) != 0) {
        const std::string reason = onset_detector_message(detector_);
        onset_detector_destroy(detector_);
        throw InputError(reason);
    }
}

Engine::~Engine() { onset_detector_destroy(detector_); }

void Engine::check(int status) const
{
    if (status == ONSET_DETECT_NO_MEMORY) throw std::bad_alloc();
    if (status == ONSET_DETECT_UNPLACED) throw InputError(onset_detector_message(detector_));
    if (status < 0) throw std::runtime_error(onset_detector_message(detector_));
}

int32_t Engine::add(const std::string &id, double rate, std::string &problem)
{
    const int32_t number = onset_detector_add_channel(detector_, id.c_str(), rate);
    if (number == ONSET_DETECT_RATE || number == ONSET_DETECT_INVALID) {
        problem = onset_detector_message(detector_);
        return -1;
    }
    check(number);
    ids_.push_back(id);
    return number;
}

void Engine::feed(int32_t channel, Microseconds start, const double *samples, size_t count)
{
    check(onset_detector_feed(detector_, channel, start, samples, count));
}

void Engine::advance(Microseconds time) { check(onset_detector_advance(detector_, time)); }

void Engine::flush() { check(onset_detector_flush(detector_)); }

std::vector<Event> Engine::take()
{
    std::vector<Event> events;
    onset_event event;
    int status;
    while ((status = onset_detector_next_event(detector_, &event)) == 1)
        events.push_back(copied(event));
    check(status);
    return events;
}

void Engine::keep_picks() { check(onset_detector_keep_picks(detector_)); }

std::vector<onset_pick> Engine::take_picks()
{
    std::vector<onset_pick> picks;
    onset_pick pick;
    int status;
    while ((status = onset_detector_next_pick(detector_, &pick)) == 1) picks.push_back(pick);
    check(status);
    return picks;
}

Run::Run(const onset_detect_options &options, const std::vector<StationOptions> &stations,
         const LocationFiles &location, double chunk, const std::vector<std::string> &paths,
         const std::string &channels, Microseconds start, Microseconds end)
{
    // Bad options are said before bad paths.
    char message[512];
    if (onset_detect_check(&options, message, sizeof message) != 0) throw InputError(message);
    std::vector<const char *> names;
    for (const std::string &path : paths) names.push_back(path.c_str());
    onset_reader *reader =
        onset_reader_open(names.data(), names.size(), channels.c_str(), start, end, message, sizeof message);
    opened(reader, message, options, stations, location, chunk);
}

Run::Run(const onset_detect_options &options, const std::vector<StationOptions> &stations,
         const LocationFiles &location, double chunk, const std::string &flag, const std::string &root, const std::string &channels, Microseconds start,
         Microseconds end)
{
    char message[512];
    onset_reader *reader = onset_reader_open_sds(root.c_str(), channels.c_str(), start, end, message, sizeof message);
    opened(reader, flag + ": " + message, options, stations, location, chunk);
}

void Run::opened(onset_reader *reader, const std::string &reason, const onset_detect_options &options,
                 const std::vector<StationOptions> &stations, const LocationFiles &location, double chunk)
{
    if (!reader) throw InputError(reason);
    reader_ = reader;
    onset_reader_span(reader_, &begin_, &end_);
    char message[512];
    run_ = onset_run_create(&options, reader_, chunk, message, sizeof message);
    if (!run_) {
        onset_reader_close(reader_);
        throw InputError(message);
    }
    set_station_options(stations);
    locate(location);
}

Run::Run(const onset_detect_options &options, const std::vector<StationOptions> &stations, const LocationFiles &location,
         const std::string &server, const std::string &channels, const std::string &state, double max_latency)
{
    char message[512];
    run_ = onset_run_create_seedlink(&options, server.c_str(), channels.c_str(), state.c_str(), max_latency, message,
                                     sizeof message);
    if (!run_) throw InputError(std::string("--seedlink: ") + message);
    set_station_options(stations);
    locate(location);
}

void Run::locate(const LocationFiles &location)
{
    if (location.stations.empty() ||
        onset_run_locate(run_, location.stations.c_str(), location.velocity_model.c_str(), location.graded) == 0)
        return;
    const std::string failure = onset_run_message(run_);
    onset_run_destroy(run_);
    onset_reader_close(reader_);
    throw InputError(failure);
}

void Run::set_station_options(const std::vector<StationOptions> &stations)
{
    for (const StationOptions &station : stations)
        if (onset_run_station_options(run_, station.pattern.c_str(), &station.options) != 0) {
            const std::string failure = onset_run_message(run_);
            onset_run_destroy(run_);
            onset_reader_close(reader_);
            throw InputError(failure);
        }
}

Run::~Run()
{
    onset_run_destroy(run_);
    onset_reader_close(reader_);
}

void Run::check(int status) const
{
    if (status == ONSET_DETECT_NO_MEMORY) throw std::bad_alloc();
    if (status == ONSET_DETECT_UNPLACED) throw InputError(onset_run_message(run_));
    if (status < 0) throw std::runtime_error(onset_run_message(run_));
}

bool Run::step()
{
    const int status = onset_run_step(run_);
    check(status);
    declared();
    return status == 1;
}

void Run::declared()
{
    while (const char *id = onset_run_channel_id(run_, static_cast<int32_t>(ids_.size()))) ids_.push_back(id);
}

void Run::finish()
{
    check(onset_run_finish(run_));
    declared();
}

void Run::keep_picks() { check(onset_run_keep_picks(run_)); }

std::vector<onset_pick> Run::take_picks()
{
    std::vector<onset_pick> picks;
    onset_pick pick;
    int status;
    while ((status = onset_run_next_pick(run_, &pick)) == 1) picks.push_back(pick);
    check(status);
    return picks;
}

std::vector<Event> Run::take()
{
    std::vector<Event> events;
    onset_event event;
    int status;
    while ((status = onset_run_next_event(run_, &event)) == 1)
        events.push_back(copied(event));
    check(status);
    return events;
}

std::vector<std::string> Run::warnings()
{
    std::vector<std::string> lines;
    while (const char *line = onset_run_next_warning(run_)) lines.push_back(line);
    return lines;
}

bool Run::usable(int32_t channel)
{
    const char *verdict = onset_run_verdict(run_, channel);
    return verdict && *verdict == '\0';
}


onset_channel_report Run::report(int32_t channel) const
{
    onset_channel_report report{};
    check(onset_run_channel_report(run_, channel, &report));
    return report;
}

Microseconds Run::reached() const
{
    Microseconds time = 0;
    onset_run_progress(run_, &time, nullptr);
    return time;
}

uint64_t Run::samples() const
{
    uint64_t count = 0;
    onset_run_progress(run_, nullptr, &count);
    return count;
}

}  // namespace tool
