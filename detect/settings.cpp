// Checks of the options and their per-rate meaning.
#include "settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "number_text.h"
#include "option_table.h"

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
    for (size_t i = 0; i < option_count; ++i) {
        const double value = option_value(o, option_table[i]);
        const std::string problem = value_problem(option_table[i], value);
        if (!problem.empty()) return std::string(option_table[i].name) + " " + problem + ", got " + number_text(value);
    }
    if (o.fmin >= o.fmax)
        return "fmin " + number_text(o.fmin) + " Hz must be below fmax " + number_text(o.fmax) + " Hz";
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
    if (kernel > static_cast<double>(longest_kernel))
        return "fmin " + number_text(options.fmin) + " Hz needs a band-pass filter of " + number_text(kernel) +
               " samples at its rate, more than the " + std::to_string(longest_kernel) + " it can hold";
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
    if (static_cast<int64_t>(filter.kernel.size()) >= shortest_block_kernel)
        filter_blocks = std::make_unique<const BandPassBlocks>(filter.kernel);
    const double jump_seconds = options.jump_window > 0.0 ? options.jump_window : options.kurtosis_window;
    windows = {odd_samples(options.kurtosis_window, rate), odd_samples(jump_seconds, rate),
               static_cast<int64_t>(std::min(std::round(options.dead_time * rate), 1e15))};
    bridge = static_cast<int64_t>(filter.kernel.size());
    // A fifth of a second: real noise never holds a value that long, while
    // filled gaps and dead channels do.
    flat_run = std::max<int64_t>(20, std::llround(0.2 * rate));
    signal_span = std::max<int64_t>(1, std::llround(rate));
    noise_span = std::max<int64_t>(least_noise_samples, std::llround(noise_seconds * rate));
    noise_gap = std::llround(noise_gap_seconds * rate);
    energy_block = std::max<int64_t>(1, std::llround(0.1 * rate));
    piece = power_of_two_at_least(std::max<int64_t>(least_piece, piece_windows * int64_t{windows.kurtosis}));
    agreement = std::make_unique<const BandAgreement>(options, rate, windows.kurtosis >> 1, windows.jump >> 1,
                                                      signal_span);
}

}  // namespace detect
