// onset_detect_reach: how far in time a result depends on the samples, from
// the stages' own settings.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "bandpass_blocks.h"
#include "bandpass_design.h"
#include "failure.h"
#include "onset_detect.h"
#include "settings.h"

namespace {

using detect::copy_message;

// What the stages of a channel at `rate` look back, from its settings.
void stage_reach(const onset_detect_options &options, double rate, onset_reach &reach)
{
    const detect::RateSettings settings(options, rate);
    reach.strength = static_cast<double>(settings.piece + settings.windows.kurtosis + settings.windows.jump) / rate;
    reach.bandpass = static_cast<double>(settings.filter_blocks ? settings.filter_blocks->block_inputs()
                                                                : static_cast<int64_t>(settings.filter.kernel.size())) /
                     rate;
    reach.noise = static_cast<double>(settings.noise_span + settings.noise_gap) / rate;
    reach.dead_time = static_cast<double>(settings.windows.dead_time) / rate;
}

// The same for any rate above 2 fmax, bounded from the settings' formulas:
// a window of w seconds is at most w r + 2 samples, a piece at most the
// larger of its least samples and twice its kurtosis windows, the kernel
// 2 ceil(8 s) + 1 samples for its widest scale s, which lies less than a
// voice above the scale of fmin, and the band-pass's transform, where it
// has one, the larger of its least points and twice its kernels, rounded up.
void stage_bound(const onset_detect_options &options, onset_reach &reach)
{
    const double slowest = 1.0 / (2.0 * options.fmax);  // s per sample, at most
    const double jump = options.jump_window > 0.0 ? options.jump_window : options.kurtosis_window;
    const double kurtosis = options.kurtosis_window + 2.0 * slowest;
    const double piece = std::max(static_cast<double>(detect::least_piece) * slowest,
                                  2.0 * static_cast<double>(detect::piece_windows) * kurtosis);
    reach.strength = piece + kurtosis + jump + 2.0 * slowest;
    const double widest = detect::scale_for_frequency(1.0, options.fmin) * std::exp2(1.0 / options.voices);
    const double kernel = 16.0 * widest + 3.0 * slowest;
    reach.bandpass = std::max(static_cast<double>(detect::least_transform) * slowest,
                              2.0 * static_cast<double>(detect::transform_kernels) * kernel);
    reach.noise = std::max(detect::noise_seconds, static_cast<double>(detect::least_noise_samples) * slowest) +
                  detect::noise_gap_seconds + slowest;
    reach.dead_time = options.dead_time + slowest;
}

}  // namespace

extern "C" int onset_detect_reach(const onset_detect_options *options, double rate, onset_reach *reach,
                                  char *message, size_t message_size)
{
    if (!options || !reach) {
        copy_message(options ? "no reach record given" : "no options given", message, message_size);
        return ONSET_DETECT_INVALID;
    }
    const std::string options_issue = detect::options_problem(*options);
    if (!options_issue.empty()) {
        copy_message(options_issue, message, message_size);
        return ONSET_DETECT_INVALID;
    }
    const std::string rate_issue = rate == 0.0 ? "" : detect::rate_problem(*options, rate);
    if (!rate_issue.empty()) {
        copy_message(rate_issue, message, message_size);
        return rate > 0.0 ? ONSET_DETECT_RATE : ONSET_DETECT_INVALID;
    }
    try {
        if (rate == 0.0) stage_bound(*options, *reach);
        else stage_reach(*options, rate, *reach);
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
        return ONSET_DETECT_NO_MEMORY;
    }
    reach->wave_train = detect::train_seconds;
    reach->grouping = detect::dense_tolerances * options->tolerance;
    reach->look_back = reach->strength + reach->bandpass + reach->noise + reach->dead_time + reach->wave_train +
                       reach->grouping;
    reach->wait = detect::train_seconds;
    return 0;
}
