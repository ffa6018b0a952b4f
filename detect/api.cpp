// The engine's C entries: thin wrappers that turn failures into codes.
#include <cstdio>
#include <cstring>
#include <new>

#include "handle.h"
#include "onset.h"
#include "onset_detect.h"

namespace {

// Runs `call`; a failure becomes its code and the detector's message.
template <class Call>
int guarded(onset_detector *handle, Call call)
{
    try {
        call();
        return 0;
    } catch (const detect::Failure &failure) {
        handle->detector.set_message(failure.reason);
        return failure.code;
    } catch (const std::bad_alloc &) {
        handle->detector.set_message("out of memory");
        return ONSET_DETECT_NO_MEMORY;
    }
}

void copy_message(const std::string &text, char *message, size_t size)
{
    if (message && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

}  // namespace

extern "C" {

void onset_detect_defaults(onset_detect_options *options)
{
    if (!options) return;
    *options = {};
    options->fmin = 2.0;
    options->fmax = 20.0;
    options->voices = 4;
    options->kurtosis_window = 1.0;
    options->jump_window = 0.0;
    options->threshold = 3.0;
    options->dead_time = 2.0;
    options->tolerance = 2.0;
    options->min_stations = 3;
    options->min_snr = 2.0;
    options->event_snr = 5.0;
}

const char *onset_detect_version(void) { return ONSET_VERSION_STRING; }

onset_detector *onset_detector_create(const onset_detect_options *options, char *message, size_t message_size)
{
    if (!options) {
        copy_message("no options given", message, message_size);
        return nullptr;
    }
    const std::string problem = detect::options_problem(*options);
    if (!problem.empty()) {
        copy_message(problem, message, message_size);
        return nullptr;
    }
    onset_detector *handle = new (std::nothrow) onset_detector(*options);
    if (!handle) copy_message("out of memory", message, message_size);
    return handle;
}

void onset_detector_destroy(onset_detector *detector) { delete detector; }

const char *onset_detector_message(const onset_detector *detector)
{
    return detector ? detector->detector.message() : "no detector";
}

int32_t onset_detector_add_channel(onset_detector *detector, const char *id, double rate)
{
    int32_t number = ONSET_DETECT_INVALID;
    const int status = guarded(detector, [&] { number = detector->detector.add_channel(id ? id : "", rate); });
    return status == 0 ? number : status;
}

int onset_detector_feed(onset_detector *detector, int32_t channel, int64_t start, const double *samples,
                        size_t count)
{
    return guarded(detector, [&] { detector->detector.feed(channel, start, samples, count); });
}

int onset_detector_advance(onset_detector *detector, int64_t time)
{
    return guarded(detector, [&] { detector->detector.advance(time); });
}

int onset_detector_flush(onset_detector *detector)
{
    return guarded(detector, [&] { detector->detector.flush(); });
}

int onset_detector_next_event(onset_detector *detector, onset_event *event)
{
    const detect::Event *next = nullptr;
    const int status = guarded(detector, [&] { next = detector->detector.next_event(); });
    if (status != 0) return status;
    if (!next) return 0;
    event->earliest = next->earliest;
    event->stations = next->stations;
    event->pick_count = static_cast<int32_t>(next->picks.size());
    event->picks = next->picks.data();
    return 1;
}

int onset_detector_channel_report(const onset_detector *detector, int32_t channel, onset_channel_report *report)
{
    try {
        *report = detector->detector.report(channel);
        return 0;
    } catch (const detect::Failure &) {
        return ONSET_DETECT_INVALID;
    }
}

}  // extern "C"
