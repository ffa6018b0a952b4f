#include "detector.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "bandpass.h"
#include "progress.h"

namespace detect {

namespace {

// An odd window of about `seconds`, clamped so that an absurd flag value
// gives a window longer than any trace rather than a wrapped count.
uint32_t odd_samples(double seconds, double rate)
{
    const double half = std::min(std::round(seconds * rate / 2.0), 1e9);
    return 2 * static_cast<uint32_t>(half) + 1;
}

}  // namespace

Windows windows_for(const Trace &trace, const Options &options)
{
    return {odd_samples(options.kurtosis_window, trace.rate), odd_samples(options.jump_seconds(), trace.rate),
            static_cast<size_t>(std::min(std::round(options.dead_time * trace.rate), 1e15))};
}

void check_traces(const std::vector<Trace> &traces, const Options &options)
{
    if (traces.empty()) throw InputError("no traces in the input");
    for (const Trace &trace : traces) {
        const std::string where = trace.id + " in '" + trace.source + "'";
        const double nyquist = trace.rate / 2.0;
        if (options.fmax >= nyquist)
            throw InputError("--fmax " + number_text(options.fmax) + " Hz is not below the Nyquist frequency " +
                             number_text(nyquist) + " Hz of " + where);
        const Windows w = windows_for(trace, options);
        const size_t needed = size_t{w.kurtosis} + w.jump;
        size_t longest = 0, run = 0, valid = 0;
        for (double x : trace.samples) {
            run = std::isfinite(x) ? run + 1 : 0;
            valid += std::isfinite(x) ? 1 : 0;
            longest = std::max(longest, run);
        }
        if (valid == 0) throw InputError(where + " holds no valid sample (all NaN)");
        const double wavelet = bandpass_length(trace.rate, options.fmin, options.fmax, options.voices);
        if (wavelet > static_cast<double>(longest))
            throw InputError("--fmin " + number_text(options.fmin) + " Hz needs a wavelet of " +
                             number_text(wavelet) + " samples (" + number_text(wavelet / trace.rate) +
                             " s), longer than the longest stretch without gaps of " + where + " (" +
                             std::to_string(longest) + " samples)");
        if (longest < needed)
            throw InputError(where + " is too short for the windows: its longest stretch without gaps has " +
                             std::to_string(longest) + " samples, --kurtosis-window and --jump-window need " +
                             std::to_string(needed) + " (" + number_text(needed / trace.rate) + " s)");
    }
}

Detection detect_events(const std::vector<Trace> &traces, const Options &options, bool progress)
{
    Stages stages(progress);
    size_t samples = 0;
    for (const Trace &t : traces) samples += t.samples.size();

    std::map<double, std::unique_ptr<BandPass>> by_rate;
    std::vector<const BandPass *> filters;
    std::vector<Windows> windows;
    for (const Trace &trace : traces) {
        auto &filter = by_rate[trace.rate];
        if (!filter)
            filter = std::make_unique<BandPass>(make_bandpass(trace.rate, options.fmin, options.fmax, options.voices));
        filters.push_back(filter.get());
        windows.push_back(windows_for(trace, options));
    }
    std::vector<std::vector<double>> strength = band_pass(traces, filters);
    stages.done("band-pass", samples);

    const std::vector<std::vector<Run>> runs = usable_runs(strength, windows);
    const std::vector<std::vector<double>> kurtosis = moving_kurtosis(strength, runs, windows);
    stages.done("kurtosis", samples);
    // The band-passed traces are no longer needed: their memory takes the strength.
    kurtosis_rise(kurtosis, runs, windows, strength);
    stages.done("max-jump", samples);

    Detection result;
    for (size_t t = 0; t < traces.size(); ++t)
        result.onsets.push_back(pick_onsets(strength[t], kurtosis[t], windows[t], options.threshold));
    stages.done("onsets", samples);

    result.events = group_events(traces, result.onsets, options.tolerance, options.min_stations);
    stages.done("captures", samples);
    return result;
}

}  // namespace detect
