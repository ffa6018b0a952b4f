// Per-trace onsets: moving kurtosis, its moving max-jump, and the peaks of
// that onset strength.
#ifndef ONSET_DETECT_ONSETS_H
#define ONSET_DETECT_ONSETS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace detect {

struct Onset {
    size_t index;     // sample of the pick
    double strength;  // rise of the kurtosis that made it
};

// Window widths in samples for one trace, odd so that both windows are
// centred on their sample.
struct Windows {
    uint32_t kurtosis;
    uint32_t jump;
    size_t dead_time;
};

// A stretch of a trace without NaN: [begin, end).
struct Run {
    size_t begin, end;
};

// The stretches of `samples` without NaN that hold at least `minimum` samples.
std::vector<Run> finite_runs(const std::vector<double> &samples, size_t minimum);

// The runs of every band-passed trace that are long enough for its windows.
std::vector<std::vector<Run>> usable_runs(const std::vector<std::vector<double>> &filtered,
                                          const std::vector<Windows> &windows);

// Moving kurtosis of every usable run, NaN elsewhere. Each run is one trace
// of the library's batch, so no NaN ever enters the library.
std::vector<std::vector<double>> moving_kurtosis(const std::vector<std::vector<double>> &filtered,
                                                 const std::vector<std::vector<Run>> &runs,
                                                 const std::vector<Windows> &windows);

// Onset strength: the moving max-jump of the kurtosis, written into
// `strength` (resized; NaN where it is undefined).
void kurtosis_rise(const std::vector<std::vector<double>> &kurtosis,
                   const std::vector<std::vector<Run>> &runs, const std::vector<Windows> &windows,
                   std::vector<std::vector<double>> &strength);

// The peaks of one strength trace above `threshold`, at most one per dead
// time, each refined to the sample where the kurtosis rises steepest.
std::vector<Onset> pick_onsets(const std::vector<double> &strength,
                               const std::vector<double> &kurtosis, const Windows &windows,
                               double threshold);

}  // namespace detect

#endif
