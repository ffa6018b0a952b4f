#include "onsets.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "onset.h"

namespace detect {

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

// Runs one batch of (input, output, length) stretches through `batch_function`
// with one window width per stretch.
struct Batch {
    std::vector<const double *> inputs;
    std::vector<double *> outputs;
    std::vector<uint32_t> lengths, windows;

    void add(const double *input, double *output, size_t length, uint32_t window)
    {
        inputs.push_back(input);
        outputs.push_back(output);
        lengths.push_back(static_cast<uint32_t>(length));
        windows.push_back(window);
    }
    void run(void (*batch_function)(const TraceBatch *)) const
    {
        const TraceBatch batch{inputs.data(), outputs.data(), lengths.data(), windows.data(),
                               static_cast<uint32_t>(inputs.size())};
        batch_function(&batch);
    }
};

}  // namespace

std::vector<Run> finite_runs(const std::vector<double> &samples, size_t minimum)
{
    std::vector<Run> runs;
    size_t i = 0;
    while (i < samples.size()) {
        while (i < samples.size() && !std::isfinite(samples[i])) ++i;
        const size_t begin = i;
        while (i < samples.size() && std::isfinite(samples[i])) ++i;
        if (i > begin && i - begin >= minimum) runs.push_back({begin, i});
    }
    return runs;
}

std::vector<std::vector<Run>> usable_runs(const std::vector<std::vector<double>> &filtered,
                                          const std::vector<Windows> &windows)
{
    std::vector<std::vector<Run>> runs;
    for (size_t t = 0; t < filtered.size(); ++t)
        runs.push_back(finite_runs(filtered[t], size_t{windows[t].kurtosis} + windows[t].jump));
    return runs;
}

std::vector<std::vector<double>> moving_kurtosis(const std::vector<std::vector<double>> &filtered,
                                                 const std::vector<std::vector<Run>> &runs,
                                                 const std::vector<Windows> &windows)
{
    std::vector<std::vector<double>> kurtosis(filtered.size());
    Batch batch;
    for (size_t t = 0; t < filtered.size(); ++t) {
        kurtosis[t].assign(filtered[t].size(), nan);
        for (const Run &run : runs[t])
            batch.add(filtered[t].data() + run.begin, kurtosis[t].data() + run.begin,
                      run.end - run.begin, windows[t].kurtosis);
    }
    batch.run(movkurtosis);
    return kurtosis;
}

void kurtosis_rise(const std::vector<std::vector<double>> &kurtosis,
                   const std::vector<std::vector<Run>> &runs, const std::vector<Windows> &windows,
                   std::vector<std::vector<double>> &strength)
{
    // The kurtosis of a run's first and last half windows comes from clipped
    // windows down to one or two samples, where it means nothing: the
    // max-jump only looks at the kurtosis of full windows.
    Batch batch;
    strength.resize(kurtosis.size());
    for (size_t t = 0; t < kurtosis.size(); ++t) {
        const size_t half = windows[t].kurtosis >> 1;
        strength[t].assign(kurtosis[t].size(), nan);
        for (const Run &run : runs[t])
            batch.add(kurtosis[t].data() + run.begin + half, strength[t].data() + run.begin + half,
                      run.end - run.begin - 2 * half, windows[t].jump);
    }
    batch.run(movjumps);
}

std::vector<Onset> pick_onsets(const std::vector<double> &strength,
                               const std::vector<double> &kurtosis, const Windows &windows,
                               double threshold)
{
    std::vector<Onset> onsets;
    const size_t n = strength.size();
    const size_t reach = windows.jump >> 1;
    const size_t lead = windows.kurtosis >> 1;
    size_t next_allowed = 0;
    size_t k = 0;
    while (k < n) {
        if (!(strength[k] >= threshold)) { ++k; continue; }
        // One excursion above the threshold: its (first) highest sample.
        size_t peak = k;
        for (; k < n && strength[k] >= threshold; ++k)
            if (strength[k] > strength[peak]) peak = k;

        // The rise lies inside the peak's max-jump window (clipped to where
        // the strength is defined): from the window's first minimum of the
        // kurtosis to its first maximum.
        size_t lo = peak, hi = peak;
        while (lo > 0 && peak - lo < reach && std::isfinite(strength[lo - 1])) --lo;
        while (hi + 1 < n && hi - peak < reach && std::isfinite(strength[hi + 1])) ++hi;
        size_t low = lo, high = lo;
        for (size_t i = lo + 1; i <= hi; ++i) {
            if (kurtosis[i] < kurtosis[low]) low = i;
            else if (kurtosis[i] > kurtosis[high]) high = i;
        }
        size_t steepest = peak;
        double rise = -std::numeric_limits<double>::infinity();
        for (size_t i = low + 1; i <= high && low < high; ++i)
            if (kurtosis[i] - kurtosis[i - 1] > rise) {
                rise = kurtosis[i] - kurtosis[i - 1];
                steepest = i;
            }
        // Kurtosis output i covers the samples up to i + lead: it rises when
        // the arrival's first samples enter the window's leading edge.
        const size_t pick = std::min(n - 1, steepest + (low < high ? lead : 0));
        if (pick < next_allowed) continue;
        onsets.push_back({pick, strength[peak]});
        next_allowed = pick + windows.dead_time;
    }
    return onsets;
}

}  // namespace detect
