// onset_detect_stages: one trace through the detector's band-pass and onset
// strength, every value kept, for hosts that draw them. The samples take the
// way Channel gives them to the stages.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "bandpass_stream.h"
#include "flat_lines.h"
#include "onset_detect.h"
#include "settings.h"
#include "strength_stream.h"

namespace {

// Writes the values the stages give into the host's arrays, by index from
// the trace's first sample.
class Recorder final : public detect::StrengthSink {
public:
    Recorder(int64_t first, size_t count, double *filtered, double *strength)
        : first_(first), count_(count), filtered_(filtered), strength_(strength)
    {
    }

    void samples(int64_t first, const double *filtered, size_t count) override { keep(filtered_, first, filtered, count); }
    void strength(int64_t first, const double *strength, const double *, size_t count) override
    {
        keep(strength_, first, strength, count);
    }
    void run_end() override {}

private:
    void keep(double *out, int64_t first, const double *values, size_t count) const
    {
        if (!out) return;
        for (size_t i = 0; i < count; ++i) {
            const int64_t at = first + static_cast<int64_t>(i) - first_;
            if (at >= 0 && static_cast<size_t>(at) < count_) out[at] = values[i];
        }
    }

    int64_t first_;
    size_t count_;
    double *filtered_, *strength_;
};

void copy_message(const std::string &text, char *message, size_t size)
{
    if (message && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

}  // namespace

extern "C" int onset_detect_stages(const onset_detect_options *options, double rate, int64_t start,
                                   const double *samples, size_t count, double *filtered, double *strength,
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
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (filtered) std::fill_n(filtered, count, none);
    if (strength) std::fill_n(strength, count, none);
    try {
        const detect::RateSettings settings(*options, rate);
        // Indices count from 1970, as a detector's channel counts them, so
        // that the pieces of the strength fall where the detector's do.
        const int64_t first = std::llround(static_cast<double>(start) * rate * 1e-6);
        Recorder recorder(first, count, filtered, strength);
        detect::StrengthStream stream(settings, recorder);
        detect::BandPassStream bandpass(settings.filter, settings.bridge);
        // The samples go the way a channel takes them: not finite, or in a
        // flat line, they are gaps.
        detect::FlatLines flat_lines(settings.flat_run);
        const auto use = [&](int64_t index, double value) { bandpass.take(index, value, stream); };
        const size_t step = 65536;
        for (size_t from = 0; from < count; from += step) {
            for (size_t i = from; i < std::min(count, from + step); ++i) {
                if (std::isfinite(samples[i])) flat_lines.take(first + static_cast<int64_t>(i), samples[i], use);
                else flat_lines.flush(use);
            }
            bandpass.compute(false, stream);
        }
        flat_lines.flush(use);
        bandpass.end_segment(stream);
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
        return ONSET_DETECT_NO_MEMORY;
    }
    return 0;
}
