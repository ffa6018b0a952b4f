// Loading day files as the time comes, declaring channels, feeding them side
// by side, and the runs of samples handed to hosts.
#include "reader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

#include "number_text.h"

namespace reading {

using detect::number_text;

namespace {

std::string station_of(const std::string &id) { return id.substr(0, id.find('.', id.find('.') + 1)); }

}  // namespace

Reader::Reader(const std::vector<std::string> &paths, const std::string &channels, Microseconds start,
               Microseconds end)
    : source_(warnings_), selection_(channels), start_(start), end_input_(end)
{
    source_.set_span(start, end);
    source_.add_files(list_files(paths), selection_);
    begin_ = std::max(start, source_.first_start());
    end_ = std::min(end, source_.last_end());
}

Reader::Reader(const std::string &root, const std::string &channels, Microseconds start, Microseconds end)
    : source_(warnings_), selection_(channels), start_(start), end_input_(end),
      days_(list_archive(root, selection_, start, end))
{
    if (days_.empty()) throw ReadError("no day files of the selected channels and times under '" + root + "'");
    source_.set_span(start, end);
    begin_ = std::max(start, days_.front().day);
    end_ = std::min(end, days_.back().day + day_length);
}

void Reader::load(Microseconds until, detect::Detector *detector)
{
    // A day's files are indexed together, and its new channels declared
    // before the next day's, however far `until` reaches. They are indexed
    // a day ahead: records filed in the next day's file are queued before
    // their time is read.
    const Microseconds ahead = until > std::numeric_limits<Microseconds>::max() - day_length
                                   ? std::numeric_limits<Microseconds>::max()
                                   : until + day_length;
    while (next_day_ < days_.size() && days_[next_day_].day < ahead) {
        const Microseconds day = days_[next_day_].day;
        std::vector<std::string> paths;
        for (; next_day_ < days_.size() && days_[next_day_].day == day; ++next_day_)
            paths.push_back(days_[next_day_].path);
        source_.add_files(paths, selection_, day);
        if (detector) declare(*detector);
    }
    if (detector) declare(*detector);
    source_.set_read_until(until);
}

Microseconds Reader::next_time() const
{
    Microseconds next = source_.first_start();
    if (next_day_ < days_.size()) next = std::min(next, days_[next_day_].day - day_length);
    return next;
}

void Reader::declare(detect::Detector &detector)
{
    for (ChannelRecords *channel : source_.channels()) {
        if (!channel->has_samples || seen_.count(channel->id)) continue;
        seen_.insert(channel->id);
        int32_t number;
        try {
            number = detector.add_channel(channel->id, channel->rate);
        } catch (const detect::Failure &failure) {
            if (failure.code != ONSET_DETECT_RATE && failure.code != ONSET_DETECT_INVALID) throw;
            warnings_.add(channel->id + " left out: " + failure.reason.substr(failure.reason.find(": ") + 2));
            continue;
        }
        declared_.push_back({channel, number});
        if (ids_.size() <= static_cast<size_t>(number)) ids_.resize(static_cast<size_t>(number) + 1);
        ids_[static_cast<size_t>(number)] = channel->id;
    }
}

uint64_t Reader::feed(detect::Detector &detector, Microseconds until)
{
    if (detector_ && detector_ != &detector)
        throw detect::Failure{ONSET_DETECT_INVALID, "a reader feeds one detector only"};
    detector_ = &detector;
    load(until, &detector);
    // Slices that hold no record (a long gap, or one record far off in time)
    // cost no team of threads.
    if (std::none_of(declared_.begin(), declared_.end(), [&](const auto &declared) {
            return !declared.first->records.empty() && declared.first->records.front().start < until;
        }))
        return 0;
    std::atomic<uint64_t> fed{0};
    const auto count = static_cast<int64_t>(declared_.size());
    std::vector<std::exception_ptr> failures(declared_.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t c = 0; c < count; ++c) {
        // Not a structured binding: lambdas capture those only from C++20.
        ChannelRecords *const channel = declared_[static_cast<size_t>(c)].first;
        const int32_t number = declared_[static_cast<size_t>(c)].second;
        try {
            // Records that follow on one another are fed as one stretch, so
            // that the engine's batches hold many pieces (and its vector
            // lanes fill).
            std::vector<double> stretch;
            Microseconds stretch_start = 0;
            const double rate = channel->rate;
            const auto feed_stretch = [&] {
                if (stretch.empty()) return;
                detector.feed(number, stretch_start, stretch.data(), stretch.size());
                fed += stretch.size();
                stretch.clear();
            };
            while (!channel->records.empty() && channel->records.front().start < until)
                source_.read_record(*channel, start_, end_input_,
                                    [&](Microseconds start, const double *samples, size_t size) {
                                        const double step = 1e6 / rate;
                                        const double expected = static_cast<double>(stretch_start) +
                                                                static_cast<double>(stretch.size()) * step;
                                        if (!stretch.empty() &&
                                            std::fabs(static_cast<double>(start) - expected) >= 0.5 * step)
                                            feed_stretch();
                                        if (stretch.empty()) stretch_start = start;
                                        stretch.insert(stretch.end(), samples, samples + size);
                                    });
            feed_stretch();
        } catch (...) {
            failures[static_cast<size_t>(c)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);
    return fed;
}

bool Reader::read_pending(ChannelRecords &channel)
{
    pending_.channel = nullptr;
    source_.read_record(channel, start_, end_input_, [&](Microseconds start, const double *samples, size_t count) {
        pending_.channel = &channel;
        pending_.start = start;
        pending_.samples.assign(samples, samples + count);
    });
    return pending_.channel != nullptr;
}

bool Reader::next_chunk(Microseconds until, Chunk &chunk)
{
    load(until, nullptr);
    for (ChannelRecords *channel : source_.channels()) {
        if (pending_.channel) break;
        while (!pending_.channel && !channel->records.empty() && channel->records.front().start < until)
            read_pending(*channel);
    }
    if (!pending_.channel) return false;
    ChannelRecords &channel = *pending_.channel;
    const Microseconds start = pending_.start;
    run_.swap(pending_.samples);
    pending_.channel = nullptr;
    // A record joins the run when a detector fed the two would put its first
    // sample right after the run's last: sample indices count from the
    // channel's first sample, as the engine counts them.
    const Microseconds first = first_time_.emplace(channel.id, start).first->second;
    const auto index = [&](Microseconds time) {
        return std::llround(static_cast<double>(time - first) * channel.rate * 1e-6);
    };
    while (!channel.records.empty() && channel.records.front().start < until) {
        if (!read_pending(channel)) continue;
        if (index(pending_.start) != index(start) + static_cast<int64_t>(run_.size())) break;
        run_.insert(run_.end(), pending_.samples.begin(), pending_.samples.end());
        pending_.channel = nullptr;
    }
    chunk = {&channel.id, channel.rate, start, &run_};
    return true;
}

int32_t Reader::finish(const detect::Detector *detector)
{
    std::set<std::string> usable;
    for (const auto &[channel, number] : declared_) {
        if (!detector) break;
        const onset_channel_report r = detector->report(number);
        if (r.longest_run >= r.needed_run) {
            usable.insert(station_of(channel->id));
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
        if (channel->has_text && !channel->has_samples) warnings_.add(channel->id + " left out: a text (log) channel");
    return static_cast<int32_t>(usable.size());
}

const std::string *Reader::channel_id(int32_t number) const
{
    if (number < 0 || static_cast<size_t>(number) >= ids_.size() || ids_[static_cast<size_t>(number)].empty())
        return nullptr;
    return &ids_[static_cast<size_t>(number)];
}

}  // namespace reading
