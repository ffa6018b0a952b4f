// A run's records fed whole: from the host, or from a live stream as they
// come, with the advance that keeps a silent channel from holding back the
// others.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "miniseed.h"
#include "run.h"
#include "time_text.h"

namespace detect {

namespace {

using reading::seedlink::Clock;

// A step waits this long for the first record, so that its host can look
// up (for a signal, say) while the stream is quiet ...
constexpr auto first_wait = std::chrono::milliseconds(500);
// ... and hands out results at least this often while records pour in.
constexpr auto longest_step = std::chrono::milliseconds(250);

int64_t microseconds(Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

}  // namespace

void Run::feed_record(const char *bytes, size_t length)
{
    if (driven()) throw Failure{ONSET_DETECT_INVALID, "a run over a reader feeds its channels itself"};
    if (!bytes && length > 0) throw Failure{ONSET_DETECT_INVALID, "no record given"};
    record_.assign(bytes, bytes + length);
    take_record();
}

void Run::advance(int64_t time)
{
    say_late();
    detector_.advance(time);
    advanced_ = std::max(advanced_, time);
}

void Run::say_late()
{
    // A station back after a silence sends many records at once: one line.
    for (const auto &[number, span] : late_)
        warnings().add(ids_[static_cast<size_t>(number)] + ": records from " + reading::time_text(span.from) + " to " +
                       reading::time_text(span.to) + " came after the run had moved on to " +
                       reading::time_text(span.passed) + "; their samples before then are left out");
    late_.clear();
}

int64_t Run::take_record()
{
    constexpr int64_t nothing = std::numeric_limits<int64_t>::min();
    reading::RecordHeader header{};
    std::vector<std::string> said;
    record_samples_.clear();
    const std::string problem = reading::decode_record(record_, header, record_samples_, said);
    const std::string record = header.id.empty() ? "a record" : "a record of " + header.id;
    for (const std::string &line : said) warnings().add(record + ": " + line);
    if (!problem.empty()) {
        warnings().add(record + " is left out: " + problem);
        return nothing;
    }
    if (header.text) {
        warnings().add(header.id + " left out: a text (log) channel");
        return nothing;
    }
    if (record_samples_.empty()) return nothing;
    auto [known, added] = record_channels_.emplace(header.id, -1);
    if (added) {
        known->second = declare(header.id, header.rate);
        // A channel that comes after the run moved on is late like any other.
        if (known->second >= 0 && advanced_ != nothing) detector_.advance(advanced_);
    }
    const int32_t number = known->second;
    if (number < 0) return nothing;
    const double rate = rates_[static_cast<size_t>(number)];
    if (std::fabs(1.0 - header.rate / rate) >= 1e-4) {
        char text[160];
        std::snprintf(text, sizeof text, " changes its sampling rate from %g to %g Hz: those records are left out",
                      rate, header.rate);
        warnings().add(header.id + text);
        return nothing;
    }
    const auto time_of = [&](size_t k) {
        return header.start + std::llround(static_cast<double>(k) * 1e6 / rate);
    };
    const size_t count = record_samples_.size();
    size_t first = 0;
    try {
        detector_.feed(number, header.start, record_samples_.data(), count);
    } catch (const Failure &failure) {
        if (failure.code != ONSET_DETECT_LATE) throw;
        // Its samples before the time advanced to are gaps by now; the rest
        // is still in time.
        // Half a sample more, so that the channel's own grid puts the first
        // sample kept at or after that time too.
        const int64_t kept_from = advanced_ + std::llround(0.5e6 / rate);
        while (first < count && time_of(first) < kept_from) ++first;
        const int64_t end = time_of(count);
        const auto [span, first_late] = late_.try_emplace(number, LateSpan{header.start, end, advanced_});
        if (!first_late) span->second = {std::min(span->second.from, header.start), std::max(span->second.to, end), advanced_};
        if (first < count) detector_.feed(number, time_of(first), record_samples_.data() + first, count - first);
    }
    samples_ += count - first;
    return time_of(count);
}

bool Run::live_step()
{
    LiveInput &live = *live_;
    const auto started = Clock::now();
    auto deadline = started + first_wait;
    reading::seedlink::SeedLinkRecord record;
    while (live.client.next(record, deadline)) {
        record_.swap(record.bytes);
        const int64_t end = take_record();
        if (end != std::numeric_limits<int64_t>::min()) {
            live.clock.heard(record.id, end, microseconds(Clock::now()));
            reached_ = std::max(reached_, end);
        }
        // The records already received, then the results.
        deadline = std::min(Clock::now(), started + longest_step);
    }
    if (live.client.reconnections() > live.reconnections) {
        live.reconnections = live.client.reconnections();
        warnings().add("reconnected to the SeedLink server (" + std::to_string(live.reconnections) +
                       (live.reconnections == 1 ? " time" : " times") + " so far); the last link ended: " +
                       live.client.last_problem());
    }
    // A channel silent for the max latency no longer holds back the others:
    // its data missing by then are gaps, and records that bring them later
    // are late.
    const int64_t data_now = live.clock.now(microseconds(Clock::now()));
    if (data_now != std::numeric_limits<int64_t>::min() && data_now - live.max_latency > advanced_)
        advance(data_now - live.max_latency);
    say_late();
    return true;
}

}  // namespace detect
