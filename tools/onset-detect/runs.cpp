// Reading in time slices, feeding the engine, writing events as they come.
#include "runs.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <set>

#include "engine.h"
#include "inputs.h"
#include "progress.h"
#include "record_source.h"
#include "report.h"
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

Microseconds chunk_microseconds(const Options &options) { return std::llround(options.chunk * 1e6); }

// The channels of the recordings as the engine knows them, and what is
// left to say about them at the end.
class Recordings {
public:
    Recordings(const Options &options, Warnings &warnings)
        : options_(options), warnings_(warnings), source_(warnings), engine_(options.detector),
          writer_(stdout, options.csv, engine_.ids()), progress_(!options.quiet, 0, 0)
    {
    }

    RecordSource &source() { return source_; }
    void set_span(Microseconds begin, Microseconds end) { progress_ = Progress(!options_.quiet, begin, end); }

    // Declares the channels met since the last call.
    void declare()
    {
        for (ChannelRecords *channel : source_.channels()) {
            if (!channel->has_samples || seen_.count(channel->id)) continue;
            seen_.insert(channel->id);
            std::string problem;
            const int32_t number = engine_.add(channel->id, channel->rate, problem);
            if (number < 0) {
                warnings_.add(channel->id + " left out: " + problem.substr(problem.find(": ") + 2));
                continue;
            }
            declared_.push_back({channel, number});
        }
    }

    // Feeds every channel's records that start before `until`, then lets
    // the engine finish what it can and writes the events that are final.
    void slice(Microseconds until)
    {
        in_parallel(declared_.size(), [&](size_t c) {
            const auto [channel, number] = declared_[c];
            source_.read_until(*channel, until, options_.start, options_.end,
                               [&, n = number](Microseconds start, const double *samples, size_t count) {
                                   engine_.feed(n, start, samples, count);
                                   samples_ += count;
                               });
        });
        if (until != std::numeric_limits<Microseconds>::max()) engine_.advance(until);
        write(engine_.take());
        progress_.update(until, samples_);
    }

    int finish()
    {
        engine_.flush();
        write(engine_.take());
        progress_.clear();
        std::set<std::string> usable_stations;
        for (const auto &[channel, number] : declared_) {
            const onset_channel_report r = engine_.report(number);
            if (r.longest_run >= r.needed_run) {
                usable_stations.insert(channel->id.substr(0, channel->id.find('.', channel->id.find('.') + 1)));
                continue;
            }
            const double rate = channel->rate;
            if (r.samples == 0)
                warnings_.add(channel->id + " left out: all its samples are gaps");
            else
                warnings_.add(channel->id + " left out: its longest stretch without gaps has " +
                              std::to_string(r.longest_run) + " samples (" + number_text(r.longest_run / rate) +
                              " s), the windows need " + std::to_string(r.needed_run) + " (" +
                              number_text(r.needed_run / rate) + " s)");
        }
        for (ChannelRecords *channel : source_.channels())
            if (channel->has_text && !channel->has_samples)
                warnings_.add(channel->id + " left out: a text (log) channel");
        warnings_.write();
        if (usable_stations.empty()) throw InputError("no usable channel in the input");
        const int needed = options_.detector.min_stations;
        if (static_cast<int>(usable_stations.size()) < needed)
            std::fprintf(stderr,
                         "onset-detect: %zu usable station%s, fewer than --min-stations %d: no event can be found\n",
                         usable_stations.size(), usable_stations.size() == 1 ? "" : "s", needed);
        writer_.finish();
        return 0;
    }

private:
    void write(const std::vector<Event> &events)
    {
        if (!events.empty() || warnings_.pending()) progress_.clear();
        warnings_.write();
        for (const Event &event : events) writer_.write(event);
    }

    const Options &options_;
    Warnings &warnings_;
    RecordSource source_;
    Engine engine_;
    EventWriter writer_;
    Progress progress_;
    std::set<std::string> seen_;
    std::vector<std::pair<ChannelRecords *, int32_t>> declared_;
    std::atomic<uint64_t> samples_{0};
};

// Slices of `chunk` from `begin` up to `end`.
template <class Slice>
void for_each_slice(Microseconds begin, Microseconds end, Microseconds chunk, Slice slice)
{
    for (Microseconds t = begin; t < end; t = t > end - chunk ? end : t + chunk) slice(std::min(end, t + chunk));
}

int run_files(const Options &options)
{
    Warnings warnings;
    Recordings run(options, warnings);
    run.source().add_files(list_files(options.inputs), ChannelSelection(options.channels));
    run.declare();
    const Microseconds begin = std::max(options.start, run.source().first_start());
    const Microseconds end = std::min(options.end, run.source().last_end());
    run.set_span(begin, end);
    for_each_slice(begin, end, chunk_microseconds(options), [&](Microseconds until) { run.slice(until); });
    run.slice(std::numeric_limits<Microseconds>::max());
    return run.finish();
}

int run_archive(const Options &options)
{
    const std::vector<DayFile> days =
        list_archive(options.sds, ChannelSelection(options.channels), options.start, options.end);
    if (days.empty()) throw InputError("--sds: no day files of the selected channels and times under '" + options.sds + "'");
    Warnings warnings;
    Recordings run(options, warnings);
    const Microseconds begin = std::max(options.start, days.front().day);
    const Microseconds end = std::min(options.end, days.back().day + day_length);
    run.set_span(begin, end);
    for (size_t first = 0; first < days.size();) {
        // One day's files at a time, read in slices of the day.
        size_t last = first;
        std::vector<std::string> paths;
        for (; last < days.size() && days[last].day == days[first].day; ++last) paths.push_back(days[last].path);
        run.source().add_files(paths, ChannelSelection(options.channels));
        run.declare();
        const Microseconds day = days[first].day;
        for_each_slice(std::max(day, begin), std::min(day + day_length, end), chunk_microseconds(options),
                       [&](Microseconds until) { run.slice(until); });
        first = last;
    }
    run.slice(std::numeric_limits<Microseconds>::max());
    return run.finish();
}

}  // namespace

int run_recordings(const Options &options)
{
    return options.sds.empty() ? run_files(options) : run_archive(options);
}

int run_synthetic(const Options &options)
{
    const SyntheticNetwork network(options.synthetic_stations, options.synthetic_duration);
    Engine engine(options.detector);
    for (const std::string &id : network.ids()) {
        std::string problem;
        if (engine.add(id, SyntheticNetwork::rate, problem) < 0) throw InputError(problem);
    }
    EventWriter writer(stdout, options.csv, engine.ids());
    std::vector<Event> events;
    const auto keep = [&](std::vector<Event> found) {
        for (Event &event : found) {
            writer.write(event);
            events.push_back(std::move(event));
        }
    };
    const auto time_of = [](int64_t index) {
        return SyntheticNetwork::start + std::llround(static_cast<double>(index) * 1e6 / SyntheticNetwork::rate);
    };
    const auto step = std::max<int64_t>(1, std::llround(options.chunk * SyntheticNetwork::rate));
    for (int64_t first = 0; first < network.length(); first += step) {
        in_parallel(network.ids().size(), [&](size_t station) {
            const std::vector<double> samples = network.samples(station, first, step);
            engine.feed(static_cast<int32_t>(station), time_of(first), samples.data(), samples.size());
        });
        engine.advance(time_of(first + step));
        keep(engine.take());
    }
    engine.flush();
    keep(engine.take());
    writer.finish();
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
        const std::string net = id.substr(0, 2), station = id.substr(3, 3), channel = id.substr(id.size() - 3);
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
        RecordWriter writer(job.path, network.ids()[job.station], SyntheticNetwork::rate);
        const int64_t hour = 3600 * static_cast<int64_t>(SyntheticNetwork::rate);
        const int64_t day_end = std::min(network.length(), (job.day + 1) * per_day);
        for (int64_t first = job.day * per_day; first < day_end; first += hour) {
            const std::vector<double> samples = network.samples(job.station, first, std::min(hour, day_end - first));
            const std::vector<int32_t> counts(samples.begin(), samples.end());
            writer.write(SyntheticNetwork::start + first * static_cast<int64_t>(1e6 / SyntheticNetwork::rate), counts);
        }
        writer.close();
    });
    for (const DayJob &job : jobs) std::printf("%s\n", job.path.c_str());
    return 0;
}

}  // namespace tool
