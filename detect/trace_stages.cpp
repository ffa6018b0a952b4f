// onset_detect_stages and onset_detect_candidates: one trace through the
// detector's band-pass, onset strength and onset picker, every value and
// every candidate kept, for hosts that draw them. The samples go through the
// same chain of stages as a channel's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "failure.h"
#include "onset_detect.h"
#include "onset_picker.h"
#include "settings.h"
#include "stage_chain.h"

namespace {

using detect::copy_message;

// Copies the values the stages give into the host's arrays, by index from
// the trace's first sample, and passes them on to the picker when candidates
// are asked for.
class Recorder final : public detect::StrengthSink {
public:
    Recorder(int64_t first, size_t count, double *filtered, double *strength, detect::OnsetPicker *picker)
        : first_(first), count_(count), filtered_(filtered), strength_(strength), picker_(picker)
    {
    }

    void samples(const detect::LookbackStore &store, int64_t first, size_t count) override
    {
        keep(filtered_, store, detect::Column::filtered, first, count);
        if (picker_) picker_->samples(store, first, count);
    }
    void strength(const detect::LookbackStore &store, int64_t first, size_t count) override
    {
        keep(strength_, store, detect::Column::strength, first, count);
        if (picker_) picker_->strength(store, first, count);
    }
    void run_end(const detect::LookbackStore &store) override
    {
        if (picker_) picker_->run_end(store);
    }
    int64_t needs_from() const override
    {
        return picker_ ? picker_->needs_from() : std::numeric_limits<int64_t>::max();
    }

private:
    void keep(double *out, const detect::LookbackStore &store, detect::Column column, int64_t first,
              size_t count) const
    {
        if (!out) return;
        // Only the trace's own samples: the band-pass's edges lie outside.
        const int64_t from = std::max(first, first_);
        const int64_t to = std::min(first + static_cast<int64_t>(count), first_ + static_cast<int64_t>(count_));
        if (from < to) std::copy(store.at(column, from), store.at(column, to), out + (from - first_));
    }

    int64_t first_;
    size_t count_;
    double *filtered_, *strength_;
    detect::OnsetPicker *picker_;
};

int32_t verdict_code(detect::PhaseLabels::Verdict verdict)
{
    switch (verdict) {
    case detect::PhaseLabels::Verdict::p: return 'P';
    case detect::PhaseLabels::Verdict::s: return 'S';
    case detect::PhaseLabels::Verdict::low_snr: return ONSET_CANDIDATE_LOW_SNR;
    case detect::PhaseLabels::Verdict::dead_time: return ONSET_CANDIDATE_DEAD_TIME;
    case detect::PhaseLabels::Verdict::coda: return ONSET_CANDIDATE_CODA;
    case detect::PhaseLabels::Verdict::warm_up: return ONSET_CANDIDATE_WARM_UP;
    }
    return 0;
}

// Both entries: the candidates only when `candidates` is given.
int trace_stages(const onset_detect_options *options, double rate, int64_t start, const double *samples,
                 size_t count, double *filtered, double *strength, std::vector<onset_candidate> *candidates,
                 char *message, size_t message_size)
{
    if (!options || (count > 0 && !samples)) {
        copy_message(options ? "no samples given" : "no options given", message, message_size);
        return ONSET_DETECT_INVALID;
    }
    const std::string options_issue = detect::options_problem(*options);
    if (!options_issue.empty()) {
        copy_message(options_issue, message, message_size);
        return ONSET_DETECT_INVALID;
    }
    const std::string rate_issue = detect::rate_problem(*options, rate);
    if (!rate_issue.empty()) {
        copy_message(rate_issue, message, message_size);
        return rate > 0.0 ? ONSET_DETECT_RATE : ONSET_DETECT_INVALID;
    }
    std::string time_issue = detect::time_problem(static_cast<double>(start), rate);
    if (time_issue.empty())
        time_issue = detect::time_problem(static_cast<double>(start) + static_cast<double>(count) * 1e6 / rate, rate);
    if (!time_issue.empty()) {
        copy_message(time_issue, message, message_size);
        return ONSET_DETECT_INVALID;
    }
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (filtered) std::fill_n(filtered, count, none);
    if (strength) std::fill_n(strength, count, none);
    try {
        const detect::RateSettings settings(*options, rate);
        // Indices count from 1970, as a detector's channel counts them, so
        // that the pieces of the strength fall where the detector's do.
        const int64_t first = std::llround(static_cast<double>(start) * rate * 1e-6);
        std::optional<detect::OnsetPicker> picker;
        std::vector<detect::JudgedOnset> judged;
        if (candidates) {
            picker.emplace(settings, options->threshold, options->min_snr, options->event_snr);
            picker->keep_judged(&judged);
        }
        Recorder recorder(first, count, filtered, strength, picker ? &*picker : nullptr);
        detect::StageChain stages(settings, &recorder);
        stages.take(first, samples, count);
        stages.finish();
        // Timed as a channel times its picks: from its first sample.
        const auto time_of = [&](int64_t index) {
            return start + std::llround(static_cast<double>(index - first) * 1e6 / rate);
        };
        for (const detect::JudgedOnset &onset : judged)
            candidates->push_back(
                {time_of(onset.index), time_of(onset.peak), onset.strength, onset.snr, verdict_code(onset.verdict)});
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
        return ONSET_DETECT_NO_MEMORY;
    }
    return 0;
}

}  // namespace

extern "C" int onset_detect_stages(const onset_detect_options *options, double rate, int64_t start,
                                   const double *samples, size_t count, double *filtered, double *strength,
                                   char *message, size_t message_size)
{
    return trace_stages(options, rate, start, samples, count, filtered, strength, nullptr, message, message_size);
}

extern "C" int onset_detect_candidates(const onset_detect_options *options, double rate, int64_t start,
                                       const double *samples, size_t count, double *filtered, double *strength,
                                       onset_candidate *candidates, size_t capacity, size_t *found, char *message,
                                       size_t message_size)
{
    if (!found || (capacity > 0 && !candidates)) {
        copy_message(found ? "no room given for the candidates" : "no count of candidates given", message,
                     message_size);
        return ONSET_DETECT_INVALID;
    }
    *found = 0;
    std::vector<onset_candidate> judged;
    const int status =
        trace_stages(options, rate, start, samples, count, filtered, strength, &judged, message, message_size);
    if (status != 0) return status;
    *found = judged.size();
    std::copy_n(judged.begin(), std::min(capacity, judged.size()), candidates);
    return 0;
}
