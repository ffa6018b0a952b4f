// Checks of the options and their per-rate meaning.
#include "settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "number_text.h"

namespace detect {

namespace {

bool positive(double value) { return value > 0.0 && std::isfinite(value); }

// An odd window of about `seconds`, clamped so that an absurd value gives a
// window longer than any stretch rather than a wrapped count.
uint32_t odd_samples(double seconds, double rate)
{
    const double half = std::min(std::round(seconds * rate / 2.0), 1e9);
    return 2 * static_cast<uint32_t>(half) + 1;
}

int64_t power_of_two_at_least(int64_t value)
{
    int64_t power = 1;
    while (power < value) power *= 2;
    return power;
}

}  // namespace

std::string options_problem(const onset_detect_options &o)
{
    const struct {
        const char *name;
        double value;
    } positives[] = {{"fmin", o.fmin},
                     {"fmax", o.fmax},
                     {"kurtosis_window", o.kurtosis_window},
                     {"threshold", o.threshold},
                     {"dead_time", o.dead_time},
                     {"tolerance", o.tolerance},
                     {"min_snr", o.min_snr},
                     {"event_snr", o.event_snr}};
    for (const auto &p : positives)
        if (!positive(p.value)) return std::string(p.name) + " must be above 0, got " + number_text(p.value);
    if (!(o.jump_window >= 0.0) || !std::isfinite(o.jump_window))
        return "jump_window must be 0 or more, got " + number_text(o.jump_window);
    if (o.voices < 1 || o.voices > 32) return "voices must be from 1 to 32, got " + std::to_string(o.voices);
    if (o.min_stations < 1) return "min_stations must be 1 or more, got " + std::to_string(o.min_stations);
    if (o.fmin >= o.fmax)
        return "fmin " + number_text(o.fmin) + " Hz must be below fmax " + number_text(o.fmax) + " Hz";
    // Longer settings are typing errors; a channel's look-back grows with
    // its windows.
    if (o.kurtosis_window > 3600.0 || o.jump_window > 3600.0)
        return "kurtosis_window and jump_window must be at most 3600 s";
    if (o.dead_time > 86400.0 || o.tolerance > 86400.0)
        return "dead_time and tolerance must be at most 86400 s";
    return "";
}

std::string rate_problem(const onset_detect_options &options, double rate)
{
    if (!positive(rate)) return "its sampling rate " + number_text(rate) + " is not a positive number";
    const double nyquist = rate / 2.0;
    if (options.fmax >= nyquist)
        return "fmax " + number_text(options.fmax) + " Hz is not below its Nyquist frequency " +
               number_text(nyquist) + " Hz";
    const double kernel = bandpass_length(rate, options.fmin, options.fmax, options.voices);
    if (kernel > 1e8)
        return "fmin " + number_text(options.fmin) + " Hz needs a band-pass filter of " + number_text(kernel) +
               " samples at its rate";
    return "";
}

std::string time_problem(double time, double rate)
{
    if (std::fabs(time) <= 1e17 && std::fabs(time * rate * 1e-6) <= 0x1p60) return "";
    return "the time " + number_text(time) + " us is not within 10^17 us of 1970" +
           (rate > 0.0 ? " with sample indices below 2^60" : "");
}

RateSettings::RateSettings(const onset_detect_options &options, double sampling_rate)
    : rate(sampling_rate),
      filter(make_bandpass(sampling_rate, options.fmin, options.fmax, options.voices))
{
    const double jump_seconds = options.jump_window > 0.0 ? options.jump_window : options.kurtosis_window;
    windows = {odd_samples(options.kurtosis_window, rate), odd_samples(jump_seconds, rate),
               static_cast<int64_t>(std::min(std::round(options.dead_time * rate), 1e15))};
    bridge = static_cast<int64_t>(filter.kernel.size());
    // A fifth of a second: real noise never holds a value that long, while
    // filled gaps and dead channels do.
    flat_run = std::max<int64_t>(20, std::llround(0.2 * rate));
    signal_span = std::max<int64_t>(1, std::llround(rate));
    noise_span = std::max<int64_t>(10, std::llround(10.0 * rate));
    noise_gap = std::llround(0.2 * rate);
    energy_block = std::max<int64_t>(1, std::llround(0.1 * rate));
    piece = power_of_two_at_least(std::max<int64_t>(2048, 8 * int64_t{windows.kurtosis}));
}

}  // namespace detect
