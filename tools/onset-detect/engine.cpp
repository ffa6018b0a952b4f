// The engine's and the reader's C handles behind small C++ classes.
#include "engine.h"

#include <new>
#include <stdexcept>

namespace tool {

Engine::Engine(const onset_detect_options &options)
{
    char message[256];
    detector_ = onset_detector_create(&options, message, sizeof message);
    if (!detector_) throw InputError(message);
}

Engine::~Engine() { onset_detector_destroy(detector_); }

void Engine::check(int status) const
{
    if (status == ONSET_DETECT_NO_MEMORY) throw std::bad_alloc();
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
        events.push_back({event.earliest, event.stations, {event.picks, event.picks + event.pick_count}});
    check(status);
    return events;
}

onset_channel_report Engine::report(int32_t channel) const
{
    onset_channel_report report{};
    check(onset_detector_channel_report(detector_, channel, &report));
    return report;
}

Reader::Reader(const std::vector<std::string> &paths, const std::string &channels, Microseconds start,
               Microseconds end)
{
    std::vector<const char *> names;
    for (const std::string &path : paths) names.push_back(path.c_str());
    char message[512];
    onset_reader *reader =
        onset_reader_open(names.data(), names.size(), channels.c_str(), start, end, message, sizeof message);
    opened(reader, message);
}

Reader::Reader(const std::string &flag, const std::string &root, const std::string &channels, Microseconds start,
               Microseconds end)
{
    char message[512];
    onset_reader *reader = onset_reader_open_sds(root.c_str(), channels.c_str(), start, end, message, sizeof message);
    opened(reader, flag + ": " + message);
}

void Reader::opened(onset_reader *reader, const std::string &reason)
{
    if (!reader) throw InputError(reason);
    reader_ = reader;
    onset_reader_span(reader_, &begin_, &end_);
}

Reader::~Reader() { onset_reader_close(reader_); }

void Reader::check(int status) const
{
    if (status == ONSET_DETECT_NO_MEMORY) throw std::bad_alloc();
    if (status < 0) throw std::runtime_error(onset_reader_message(reader_));
}

uint64_t Reader::feed(Engine &engine, Microseconds until)
{
    uint64_t fed = 0;
    check(onset_reader_feed(reader_, engine.detector_, until, &fed));
    while (const char *id = onset_reader_channel_id(reader_, static_cast<int32_t>(engine.ids_.size())))
        engine.ids_.push_back(id);
    return fed;
}

int32_t Reader::finish(const Engine &engine)
{
    int32_t usable = 0;
    check(onset_reader_finish(reader_, engine.detector_, &usable));
    return usable;
}

std::vector<std::string> Reader::warnings()
{
    std::vector<std::string> lines;
    while (const char *line = onset_reader_next_warning(reader_)) lines.push_back(line);
    return lines;
}

}  // namespace tool
