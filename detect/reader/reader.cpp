// Loading day files as the time comes, and the stretches and runs of samples
// read from them.
#include "reader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace reading {

namespace {

// Samples of a channel handed out at once at most (a few records more):
// several steps of the engine at any rate it takes, so that the stretch held
// does not grow with the slice.
constexpr size_t stretch_limit = 1 << 16;

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

void Reader::load(Microseconds until, const std::function<void()> &day_loaded)
{
    // A day's files are indexed together, and its new channels taken up
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
        if (day_loaded) day_loaded();
    }
    if (day_loaded) day_loaded();
    source_.set_read_until(until);
}

Microseconds Reader::next_unindexed() const
{
    return next_day_ < days_.size() ? days_[next_day_].day - day_length : std::numeric_limits<Microseconds>::max();
}

void Reader::read_stretches(ChannelRecords &channel, Microseconds until, const RecordSource::Feed &take)
{
    // Records that follow on one another go out as one stretch of up to a
    // few engine steps, so that the engine works in whole steps.
    std::vector<double> stretch;
    stretch.reserve(stretch_limit);
    Microseconds stretch_start = 0;
    const double rate = channel.rate;
    const auto hand_out = [&] {
        if (stretch.empty()) return;
        take(stretch_start, stretch.data(), stretch.size());
        stretch.clear();
    };
    while (!channel.records.empty() && channel.records.front().start < until)
        source_.read_record(channel, start_, end_input_, [&](Microseconds start, const double *samples, size_t size) {
            const double step = 1e6 / rate;
            const double expected = static_cast<double>(stretch_start) + static_cast<double>(stretch.size()) * step;
            if (!stretch.empty() && std::fabs(static_cast<double>(start) - expected) >= 0.5 * step) hand_out();
            if (stretch.empty()) stretch_start = start;
            stretch.insert(stretch.end(), samples, samples + size);
            if (stretch.size() >= stretch_limit) hand_out();
        });
    hand_out();
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
    load(until);
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

void Reader::finish()
{
    for (ChannelRecords *channel : source_.channels())
        if (channel->has_text && !channel->has_samples) warnings_.add(channel->id + " left out: a text (log) channel");
}

}  // namespace reading
