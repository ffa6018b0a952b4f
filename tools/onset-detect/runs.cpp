// Reading in time slices, feeding the engine, writing events as they come.
#include "runs.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>

#include "engine.h"
#include "inputs.h"
#include "interruption.h"
#include "outputs.h"
#include "progress.h"
#include "report.h"
#include "summary.h"
#include "synthetic.h"

namespace tool {

namespace {

// Runs work(i) for i < count on the OpenMP threads; the first failure is
// rethrown afterwards.
template <class Work>
void in_parallel(size_t count, Work work)
{
    std::vector<std::exception_ptr> failures(count);
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t i = 0; i < static_cast<int64_t>(count); ++i) {
        try {
            work(static_cast<size_t>(i));
        } catch (...) {
            failures[static_cast<size_t>(i)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);
}

// A writer left open by a failure is closed all the same.
struct WriterCloser {
    void operator()(onset_writer *writer) const { onset_writer_close(writer, nullptr, 0); }
};

// Throws InputError, in the engine's words, when the channel patterns or
// the times are why nothing of the input is selected.
void refuse_empty_selection(const Options &options)
{
    std::vector<const char *> names;
    for (const std::string &path : options.inputs) names.push_back(path.c_str());
    char message[1024];
    const int found =
        onset_reader_selection_problem(names.data(), names.size(), options.sds.empty() ? nullptr : options.sds.c_str(),
                                       options.channels.c_str(), options.start, options.end, message, sizeof message);
    if (found == ONSET_DETECT_NO_MEMORY) throw std::bad_alloc();
    if (found == 1) throw InputError(message);
}


// The run over the recordings the options name; refused before anything is
// read when the channel patterns or the times select nothing of them.
std::unique_ptr<Run> open_run(const Options &options)
{
    std::unique_ptr<Run> run;
    try {
        run = options.sds.empty()
                  ? std::make_unique<Run>(options.detector, options.stations, location_files(options), options.chunk,
                                          options.inputs, options.channels, options.start, options.end)
                  : std::make_unique<Run>(options.detector, options.stations, location_files(options), options.chunk,
                                          "--sds", options.sds, options.channels, options.start, options.end);
    } catch (const InputError &) {
        refuse_empty_selection(options);
        throw;
    }
    if (run->begin() >= run->end()) refuse_empty_selection(options);
    return run;
}

}  // namespace

LocationFiles location_files(const Options &options)
{
    return {options.station_file, options.velocity_model, options.graded_model};
}

// The recordings through a run of the engine, slice by slice: the events as
// they become final, the warnings, the progress, and what is left to say at
// the end.
int run_recordings(const Options &options)
{
    const auto started = std::chrono::steady_clock::now();
    const std::unique_ptr<Run> run = open_run(options);
    Outputs outputs(options, run->ids());
    if (!options.picks.empty()) run->keep_picks();
    Progress progress(!options.quiet, run->begin(), run->end());
    RunSummary summary;
    bool more;
    do {
        stop_if_interrupted();
        more = run->step();
        for (const onset_pick &pick : run->take_picks()) outputs.write(pick);
        const std::vector<Event> events = run->take();
        const std::vector<std::string> lines = run->warnings();
        if (!events.empty() || !lines.empty()) progress.clear();
        for (const std::string &line : lines) {
            std::fprintf(stderr, "onset-detect: warning: %s\n", line.c_str());
            summary.warned(line);
        }
        for (const Event &event : events) {
            outputs.write(event);
            summary.wrote(event);
        }
        if (more) progress.update(run->reached(), run->samples());
    } while (more);
    progress.clear();
    const int32_t usable_stations = run->usable_stations();
    if (usable_stations == 0) throw InputError("no usable channel in the input");
    const int needed = options.detector.min_stations;
    if (usable_stations < needed)
        std::fprintf(stderr, "onset-detect: %d usable station%s, fewer than --min-stations %d: no event can be found\n",
                     usable_stations, usable_stations == 1 ? "" : "s", needed);
    outputs.finish();
    if (!options.quiet) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        // The gaps of the channels used; those left out were warned about.
        std::vector<std::string> used;
        std::vector<onset_channel_report> reports;
        for (size_t c = 0; c < run->ids().size(); ++c)
            if (run->usable(static_cast<int32_t>(c))) {
                used.push_back(run->ids()[c]);
                reports.push_back(run->report(static_cast<int32_t>(c)));
            }
        std::fputs(summary.text(used.size(), usable_stations, run->begin(), run->end(), seconds).c_str(), stderr);
        std::fputs(RunSummary::gaps(used, reports).c_str(), stderr);
    }
    return 0;
}

int run_synthetic(const Options &options)
{
    const SyntheticNetwork network(options.synthetic_stations, options.synthetic_duration);
    Engine engine(options.detector, options.stations, location_files(options));
    for (const std::string &id : network.ids()) {
        std::string problem;
        if (engine.add(id, SyntheticNetwork::rate, problem) < 0) throw InputError(problem);
    }
    Outputs outputs(options, engine.ids());
    if (!options.picks.empty()) engine.keep_picks();
    std::vector<Event> events;
    const auto keep = [&](std::vector<Event> found) {
        for (const onset_pick &pick : engine.take_picks()) outputs.write(pick);
        for (Event &event : found) {
            outputs.write(event);
            events.push_back(std::move(event));
        }
    };
    const auto time_of = [](int64_t index) {
        return SyntheticNetwork::start + std::llround(static_cast<double>(index) * 1e6 / SyntheticNetwork::rate);
    };
    const auto step = std::max<int64_t>(1, std::llround(options.chunk * SyntheticNetwork::rate));
    for (int64_t first = 0; first < network.length(); first += step) {
        stop_if_interrupted();
        in_parallel(network.ids().size(), [&](size_t station) {
            const std::vector<double> samples = network.samples(station, first, step);
            engine.feed(static_cast<int32_t>(station), time_of(first), samples.data(), samples.size());
        });
        engine.advance(time_of(first + step));
        keep(engine.take());
    }
    engine.flush();
    keep(engine.take());
    outputs.finish();
    // With CSV on stdout the comparison goes to stderr, to keep the CSV clean.
    write_score(options.csv ? stderr : stdout, events, network, options.detector.tolerance);
    return 0;
}

int write_synthetic(const Options &options)
{
    namespace fs = std::filesystem;
    const SyntheticNetwork network(options.synthetic_stations, options.synthetic_duration);
    const auto per_day = static_cast<int64_t>(86400 * SyntheticNetwork::rate);
    const int64_t days = (network.length() + per_day - 1) / per_day;
    struct DayJob {
        size_t station;
        int64_t day;
        std::string path;
    };
    std::vector<DayJob> jobs;
    for (size_t s = 0; s < network.ids().size(); ++s) {
        const std::string &id = network.ids()[s];
        // NET.STA.LOC.CHA, the station of any length (S100 and beyond).
        const size_t first_dot = id.find('.'), second_dot = id.find('.', first_dot + 1);
        const std::string net = id.substr(0, first_dot),
                          station = id.substr(first_dot + 1, second_dot - first_dot - 1),
                          channel = id.substr(id.size() - 3);
        for (int64_t d = 0; d < days; ++d) {
            // The network starts on 1 January, so the day of the year follows
            // from d and the year's length.
            int64_t year = 2024, day_of_year = d + 1;
            while (day_of_year > ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 366 : 365)) {
                day_of_year -= (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 366 : 365;
                ++year;
            }
            char name[64];
            std::snprintf(name, sizeof name, "%s.D.%04lld.%03lld", id.c_str(), static_cast<long long>(year),
                          static_cast<long long>(day_of_year));
            const fs::path folder = fs::path(options.write_synthetic) / std::to_string(year) / net / station /
                                    (channel + ".D");
            std::error_code error;
            fs::create_directories(folder, error);
            if (error) throw InputError("cannot make the folder '" + folder.string() + "': " + error.message());
            jobs.push_back({s, d, (folder / name).string()});
        }
    }
    in_parallel(jobs.size(), [&](size_t j) {
        const DayJob &job = jobs[j];
        char message[512];
        std::unique_ptr<onset_writer, WriterCloser> writer(
            onset_writer_open(job.path.c_str(), network.ids()[job.station].c_str(), SyntheticNetwork::rate, message,
                              sizeof message));
        if (!writer) throw std::runtime_error(message);
        const int64_t hour = 3600 * static_cast<int64_t>(SyntheticNetwork::rate);
        const int64_t day_end = std::min(network.length(), (job.day + 1) * per_day);
        for (int64_t first = job.day * per_day; first < day_end; first += hour) {
            const std::vector<double> samples = network.samples(job.station, first, std::min(hour, day_end - first));
            const std::vector<int32_t> counts(samples.begin(), samples.end());
            if (onset_writer_write(writer.get(), SyntheticNetwork::start + first * static_cast<int64_t>(1e6 / SyntheticNetwork::rate),
                                   counts.data(), counts.size()) != 0)
                break;
        }
        if (onset_writer_close(writer.release(), message, sizeof message) != 0) throw std::runtime_error(message);
    });
    for (const DayJob &job : jobs) std::printf("%s\n", job.path.c_str());
    // The network's geometry, to locate its events with.
    const auto write_text = [](const std::string &path, const std::string &text) {
        if (path.empty()) return;
        std::FILE *file = std::fopen(path.c_str(), "w");
        const bool written = file && std::fputs(text.c_str(), file) >= 0;
        if (!file || std::fclose(file) != 0 || !written) throw InputError("cannot write '" + path + "'");
        std::printf("%s\n", path.c_str());
    };
    write_text(options.station_file, network.stations_csv());
    write_text(options.velocity_model, SyntheticNetwork::model_csv());
    return 0;
}

}  // namespace tool
