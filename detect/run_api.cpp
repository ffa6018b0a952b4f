// The C entries of runs: thin wrappers that turn failures into codes.
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "failure.h"
#include "handle.h"
#include "onset_detect.h"
#include "reader_handle.h"
#include "run.h"

struct onset_run {
    onset_run(const onset_detect_options &options, onset_reader *source, int64_t chunk)
        : run(options, source ? source->reader.get() : nullptr, chunk), reader(source)
    {
    }
    onset_run(const onset_detect_options &options, std::unique_ptr<detect::LiveInput> live)
        : run(options, std::move(live)), reader(nullptr)
    {
    }
    detect::Run run;
    onset_reader *reader;
    std::string message;
    std::string warning;  // the line handed out last
    std::string verdict;  // the verdict handed out last
};

namespace {

using detect::copy_message;

// Runs `call`; a failure becomes its code and the run's message.
template <class Call>
int guarded(onset_run *handle, Call call)
{
    if (!handle) return ONSET_DETECT_INVALID;
    try {
        call();
        return 0;
    } catch (const detect::Failure &failure) {
        handle->message = failure.reason;
        return failure.code;
    } catch (const std::bad_alloc &) {
        handle->message = "out of memory";
        return ONSET_DETECT_NO_MEMORY;
    } catch (const std::exception &error) {
        // The reader's failures: a file that went away or cannot be read.
        handle->message = error.what();
        return ONSET_DETECT_IO;
    }
}

}  // namespace

extern "C" {

onset_run *onset_run_create(const onset_detect_options *options, onset_reader *reader, double chunk, char *message,
                            size_t message_size)
{
    const std::string problem = !options                         ? "no options given"
                                : reader && reader->driven       ? "the reader is read by another run"
                                : reader && !(chunk > 0.0 && chunk < 1e12)
                                    ? "chunk must be above 0 and below 1e12 s"
                                                                 : detect::options_problem(*options);
    if (!problem.empty()) {
        copy_message(problem, message, message_size);
        return nullptr;
    }
    try {
        auto handle = std::make_unique<onset_run>(*options, reader, reader ? std::llround(chunk * 1e6) : 0);
        if (reader) reader->driven = true;
        return handle.release();
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
    }
    return nullptr;
}

onset_run *onset_run_create_seedlink(const onset_detect_options *options, const char *server, const char *channels,
                                     const char *state_file, double max_latency, char *message, size_t message_size)
{
    const std::string problem = !options                                       ? "no options given"
                                : !server || !*server                          ? "no SeedLink server given"
                                : !(max_latency >= 0.0 && max_latency <= 1e9) ? "the max latency must be from 0 to 1e9 s"
                                                                               : detect::options_problem(*options);
    if (!problem.empty()) {
        copy_message(problem, message, message_size);
        return nullptr;
    }
    try {
        reading::seedlink::SeedLinkOptions link;
        link.server = server;
        link.channels = channels ? channels : "";
        link.state_file = state_file ? state_file : "";
        auto live = std::make_unique<detect::LiveInput>(std::move(link), std::llround(max_latency * 1e6));
        return std::make_unique<onset_run>(*options, std::move(live)).release();
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
    } catch (const std::exception &error) {
        copy_message(error.what(), message, message_size);
    }
    return nullptr;
}

void onset_run_destroy(onset_run *run)
{
    if (run && run->reader) run->reader->driven = false;
    delete run;
}

const char *onset_run_message(const onset_run *run) { return run ? run->message.c_str() : "no run"; }

int onset_run_step(onset_run *run)
{
    bool more = false;
    const int status = guarded(run, [&] { more = run->run.step(); });
    return status == 0 ? (more ? 1 : 0) : status;
}

int32_t onset_run_add_channel(onset_run *run, const char *id, double rate)
{
    int32_t number = ONSET_DETECT_INVALID;
    const int status = guarded(run, [&] { number = run->run.add_channel(id ? id : "", rate); });
    return status == 0 ? number : status;
}

int onset_run_station_options(onset_run *run, const char *pattern, const onset_detect_options *options)
{
    return guarded(run, [&] {
        if (!options) throw detect::Failure{ONSET_DETECT_INVALID, "no options given"};
        run->run.set_station_options(pattern ? pattern : "", *options);
    });
}

int onset_run_locate(onset_run *run, const char *stations, const char *velocity_model, int32_t graded)
{
    return guarded(run, [&] {
        if (!stations || !*stations) throw detect::Failure{ONSET_DETECT_INVALID, "no station metadata given"};
        run->run.locate(stations, velocity_model ? velocity_model : "", graded != 0);
    });
}

int onset_run_feed(onset_run *run, int32_t channel, int64_t start, const double *samples, size_t count)
{
    return guarded(run, [&] { run->run.feed(channel, start, samples, count); });
}

int onset_run_feed_record(onset_run *run, const void *record, size_t length)
{
    return guarded(run, [&] { run->run.feed_record(static_cast<const char *>(record), length); });
}

int onset_run_advance(onset_run *run, int64_t time)
{
    return guarded(run, [&] {
        if (run->run.driven()) throw detect::Failure{ONSET_DETECT_INVALID, "a run over a reader advances itself"};
        run->run.advance(time);
    });
}

int onset_run_keep_picks(onset_run *run)
{
    return guarded(run, [&] { run->run.detector().keep_picks(); });
}

int onset_run_next_pick(onset_run *run, onset_pick *pick)
{
    if (run && !pick) {
        run->message = "no pick record given";
        return ONSET_DETECT_INVALID;
    }
    const onset_pick *next = nullptr;
    const int status = guarded(run, [&] { next = run->run.detector().next_pick(); });
    if (status != 0) return status;
    if (!next) return 0;
    *pick = *next;
    return 1;
}

int onset_run_finish(onset_run *run)
{
    return guarded(run, [&] { run->run.finish(); });
}

int onset_run_next_event(onset_run *run, onset_event *event)
{
    // Without a record to fill, the event is not taken.
    if (run && !event) {
        run->message = "no event record given";
        return ONSET_DETECT_INVALID;
    }
    const detect::Event *next = nullptr;
    const int status = guarded(run, [&] { next = run->run.detector().next_event(); });
    if (status != 0) return status;
    if (!next) return 0;
    *event = public_event(*next);
    return 1;
}

const char *onset_run_next_warning(onset_run *run)
{
    if (!run) return nullptr;
    return run->run.warnings().take(run->warning) ? run->warning.c_str() : nullptr;
}

const char *onset_run_channel_id(const onset_run *run, int32_t channel)
{
    const std::string *id = run ? run->run.channel_id(channel) : nullptr;
    return id ? id->c_str() : nullptr;
}

int onset_run_channel_report(const onset_run *run, int32_t channel, onset_channel_report *report)
{
    if (!run || !report || !run->run.channel_id(channel)) return ONSET_DETECT_INVALID;
    *report = run->run.detector().report(channel);
    return 0;
}

const char *onset_run_verdict(onset_run *run, int32_t channel)
{
    if (!run || !run->run.channel_id(channel)) return nullptr;
    try {
        run->verdict = run->run.verdict(channel);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return run->verdict.c_str();
}

int32_t onset_run_usable_stations(const onset_run *run)
{
    if (!run) return ONSET_DETECT_INVALID;
    try {
        return run->run.usable_stations();
    } catch (const std::bad_alloc &) {
        return ONSET_DETECT_NO_MEMORY;
    }
}

int onset_run_progress(const onset_run *run, int64_t *reached, uint64_t *samples)
{
    if (!run) return ONSET_DETECT_INVALID;
    if (reached) *reached = run->run.reached();
    if (samples) *samples = run->run.samples();
    return 0;
}

}  // extern "C"
