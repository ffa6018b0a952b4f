// The engine's C handle behind a small C++ class.
#include "engine.h"

#include <new>
#include <stdexcept>

#include "inputs.h"

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

}  // namespace tool
