// The driving loop: slices of a reader's records into a detector, and the
// verdict on each channel at the end.
#include "run.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>

#include "channel_verdict.h"
#include "settings.h"

namespace detect {

Run::Run(const onset_detect_options &options, reading::Reader *reader, int64_t chunk)
    : detector_(options), reader_(reader), chunk_(chunk),
      next_(reader ? reader->begin() : 0)
{
}

Run::Run(const onset_detect_options &options, std::unique_ptr<LiveInput> live)
    : detector_(options), reader_(nullptr), live_(std::move(live)), chunk_(0), next_(0)
{
}

int32_t Run::declare(const std::string &id, double rate)
{
    const std::string problem = rate_problem(detector_.options_for(id), rate);
    if (!problem.empty()) {
        warnings().add(id + " left out: " + problem);
        return rate > 0.0 ? ONSET_DETECT_RATE : ONSET_DETECT_INVALID;
    }
    const int32_t number = detector_.add_channel(id, rate);
    ids_.push_back(id);
    rates_.push_back(rate);
    return number;
}

int32_t Run::add_channel(const std::string &id, double rate)
{
    if (driven()) throw Failure{ONSET_DETECT_INVALID, "a run over a reader declares its channels itself"};
    return declare(id, rate);
}

void Run::set_station_options(const std::string &pattern, const onset_detect_options &options)
{
    detector_.set_station_options(pattern, options);
}

void Run::feed(int32_t channel, int64_t start, const double *samples, size_t count)
{
    if (driven()) throw Failure{ONSET_DETECT_INVALID, "a run over a reader feeds its channels itself"};
    detector_.feed(channel, start, samples, count);
}

void Run::declare_read()
{
    for (reading::ChannelRecords *channel : reader_->channels()) {
        if (!channel->has_samples || !seen_.insert(channel->id).second) continue;
        const int32_t number = declare(channel->id, channel->rate);
        if (number >= 0) read_channels_.push_back({channel, number});
    }
}

void Run::slice(int64_t until)
{
    reader_->load(until, [this] { declare_read(); });
    std::atomic<uint64_t> fed{0};
    const auto count = static_cast<int64_t>(read_channels_.size());
    std::vector<std::exception_ptr> failures(read_channels_.size());
    reader_->warnings().unsettle();
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t c = 0; c < count; ++c) {
        const auto [channel, number] = read_channels_[static_cast<size_t>(c)];
        try {
            reader_->read_stretches(*channel, until, [&, number = number](int64_t start, const double *x, size_t n) {
                detector_.feed(number, start, x, n);
                fed += n;
            });
        } catch (...) {
            failures[static_cast<size_t>(c)] = std::current_exception();
        }
    }
    reader_->warnings().settle();
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);
    if (until != std::numeric_limits<int64_t>::max()) detector_.advance(until);
    samples_ += fed;
    reached_ = until;
}

bool Run::step()
{
    if (!driven()) throw Failure{ONSET_DETECT_INVALID, "a run without a reader is fed by its host"};
    if (finished_) return false;
    if (live_) return live_step();
    // Slices of `chunk` from the input's beginning up to its end, then
    // whatever the records hold beyond.
    const int64_t end = reader_->end();
    if (next_ < end) {
        const int64_t from = next_;
        next_ = from > end - chunk_ ? end : from + chunk_;
        slice(std::min(end, from + chunk_));
        // Slices that no record reaches are skipped, on the same grid: one
        // record stamped decades later must not cost a slice per chunk between.
        int64_t next_record = reader_->next_unindexed();
        for (const auto &[channel, number] : read_channels_)
            if (!channel->records.empty()) next_record = std::min(next_record, channel->records.front().start);
        if (next_record < end && next_record - next_ >= chunk_) next_ += (next_record - next_) / chunk_ * chunk_;
        return true;
    }
    slice(std::numeric_limits<int64_t>::max());
    finish();
    return false;
}

void Run::finish()
{
    if (finished_) return;
    say_late();
    detector_.flush();
    finished_ = true;
    for (size_t n = 0; n < ids_.size(); ++n) {
        const std::string why = verdict(static_cast<int32_t>(n));
        if (!why.empty()) warnings().add(ids_[n] + " left out: " + why);
    }
    if (reader_) reader_->finish();
    // What was fed counts as taken: a restart resumes after it.
    if (live_) live_->client.save_state();
}

const std::string *Run::channel_id(int32_t number) const
{
    if (number < 0 || static_cast<size_t>(number) >= ids_.size()) return nullptr;
    return &ids_[static_cast<size_t>(number)];
}

std::string Run::verdict(int32_t number) const
{
    return channel_verdict(detector_.report(number), rates_.at(static_cast<size_t>(number)));
}

int32_t Run::usable_stations() const
{
    std::set<std::string> usable;
    for (size_t n = 0; n < ids_.size(); ++n)
        if (verdict(static_cast<int32_t>(n)).empty()) usable.insert(station_of(ids_[n]));
    return static_cast<int32_t>(usable.size());
}

}  // namespace detect
