// The engine's C entries: thin wrappers that turn failures into codes.
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "failure.h"
#include "handle.h"
#include "onset.h"
#include "onset_detect.h"
#include "option_table.h"
#include "settings.h"

namespace {

using detect::copy_message;

// Runs `call`; a failure becomes its code and the detector's message.
template <class Call>
int guarded(onset_detector *handle, Call call)
{
    if (!handle) return ONSET_DETECT_INVALID;
    try {
        call();
        return 0;
    } catch (const detect::Failure &failure) {
        handle->detector.set_message(failure.reason);
        return failure.code;
    } catch (const std::bad_alloc &) {
        handle->detector.set_message("out of memory");
        return ONSET_DETECT_NO_MEMORY;
    } catch (const std::invalid_argument &error) {
        // The locator's: a model or a network it cannot search.
        handle->detector.set_message(error.what());
        return ONSET_DETECT_INVALID;
    }
}

}  // namespace

extern "C" {

void onset_detect_defaults(onset_detect_options *options)
{
    if (!options) return;
    *options = {};
    for (size_t i = 0; i < detect::option_count; ++i)
        detect::set_option(*options, detect::option_table[i], detect::option_table[i].default_value);
}

size_t onset_detect_option_count(void) { return detect::option_count; }

const onset_option_info *onset_detect_option(size_t index)
{
    return index < detect::option_count ? &detect::option_table[index] : nullptr;
}

int onset_detect_option_check(size_t index, double value, char *message, size_t message_size)
{
    const std::string problem = index < detect::option_count
                                    ? detect::value_problem(detect::option_table[index], value)
                                    : "no option " + std::to_string(index);
    if (problem.empty()) return 0;
    copy_message(problem, message, message_size);
    return ONSET_DETECT_INVALID;
}

int onset_detect_option_set(onset_detect_options *options, size_t index, double value)
{
    if (!options || index >= detect::option_count) return ONSET_DETECT_INVALID;
    detect::set_option(*options, detect::option_table[index], value);
    return 0;
}

int onset_detect_check(const onset_detect_options *options, char *message, size_t message_size)
{
    const std::string problem = options ? detect::options_problem(*options) : "no options given";
    if (problem.empty()) return 0;
    copy_message(problem, message, message_size);
    return ONSET_DETECT_INVALID;
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

int onset_detector_station_options(onset_detector *detector, const char *pattern, const onset_detect_options *options)
{
    return guarded(detector, [&] {
        if (!options) throw detect::Failure{ONSET_DETECT_INVALID, "no options given"};
        detector->detector.set_station_options(pattern ? pattern : "", *options);
    });
}

int onset_detector_locate(onset_detector *detector, const char *stations, const char *velocity_model, int32_t graded)
{
    return guarded(detector, [&] {
        if (!stations || !*stations) throw detect::Failure{ONSET_DETECT_INVALID, "no station metadata given"};
        detector->detector.locate(stations, velocity_model ? velocity_model : "", graded != 0);
    });
}

int onset_detector_placed(const onset_detector *detector, int32_t channel)
{
    if (!detector) return ONSET_DETECT_INVALID;
    try {
        detector->detector.report(channel);  // refuses an unknown channel
    } catch (const detect::Failure &) {
        return ONSET_DETECT_INVALID;
    }
    const detect::EventLocation *location = detector->detector.location();
    return location && location->placed(channel) ? 1 : 0;
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
    // Without a record to fill, the event is not taken.
    if (detector && !event) {
        detector->detector.set_message("no event record given");
        return ONSET_DETECT_INVALID;
    }
    const detect::Event *next = nullptr;
    const int status = guarded(detector, [&] { next = detector->detector.next_event(); });
    if (status != 0) return status;
    if (!next) return 0;
    *event = public_event(*next);
    return 1;
}

int onset_detector_keep_picks(onset_detector *detector)
{
    return guarded(detector, [&] { detector->detector.keep_picks(); });
}

int onset_detector_next_pick(onset_detector *detector, onset_pick *pick)
{
    if (detector && !pick) {
        detector->detector.set_message("no pick record given");
        return ONSET_DETECT_INVALID;
    }
    const onset_pick *next = nullptr;
    const int status = guarded(detector, [&] { next = detector->detector.next_pick(); });
    if (status != 0) return status;
    if (!next) return 0;
    *pick = *next;
    return 1;
}

int onset_detector_channel_report(const onset_detector *detector, int32_t channel, onset_channel_report *report)
{
    if (!detector || !report) return ONSET_DETECT_INVALID;
    try {
        *report = detector->detector.report(channel);
        return 0;
    } catch (const detect::Failure &) {
        return ONSET_DETECT_INVALID;
    }
}

}  // extern "C"
