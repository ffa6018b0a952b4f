// The detector's options, checked, and what they mean at one sampling rate.
#ifndef ONSET_DETECT_SETTINGS_H
#define ONSET_DETECT_SETTINGS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "band_agreement.h"
#include "bandpass_blocks.h"
#include "bandpass_design.h"
#include "onset_detect.h"

namespace detect {

// An event waits this long after its earliest pick for the late stations
// and S waves of its wave trains.
constexpr double train_seconds = 31.0;
// A station's components see one arrival within this of each other.
constexpr double duplicate_seconds = 0.3;
// A P's S is searched for this long after it, and found only where what
// follows it up to the largest amplitude has this many times the mean
// square of what lies between the P and it: without a clear S, the split
// of a decaying coda is no arrival.
constexpr double s_window_seconds = 15.0;
constexpr double s_contrast = 3.0;
// A P after a P of the same station's train is the arrival, and the first
// noise before it, where the vertical's mean square over this long after it
// is this many times that after the first, and its horizontal-to-vertical
// ratio no higher: the S that follows a P is far more horizontal than it.
constexpr double arrival_seconds = 0.5;
constexpr double arrival_energy = 8.0;
constexpr double arrival_reach_seconds = 3.0;
// An event not located looks for the S its stations lack within this of
// the span of its S picks.
constexpr double peer_window_seconds = 0.5;
// A station's P is then looked for where its S and the event's origin
// time put it for this ratio of the velocities (sqrt(3), a Poisson solid's).
constexpr double peer_vp_vs = 1.732;
// Captures are cut at pauses of twice the tolerance, after this many
// tolerances at the latest.
constexpr double dense_tolerances = 10.0;
// An onset's noise: the 10 s before it (10 samples at least), up to 0.2 s
// before it.
constexpr double noise_seconds = 10.0;
constexpr int64_t least_noise_samples = 10;
constexpr double noise_gap_seconds = 0.2;
// The strength is worked out in pieces of a power of two samples, at least
// this many and this many kurtosis windows.
constexpr int64_t least_piece = 2048;
constexpr int64_t piece_windows = 8;

// Why the options cannot make a detector, or "" when they can.
std::string options_problem(const onset_detect_options &options);

// Why a channel of this rate cannot be processed, or "".
std::string rate_problem(const onset_detect_options &options, double rate);

// Why the engine cannot take `time` (microseconds since 1970), at `rate`
// when it is a sample's, or "". Times lie within 10^17 us (about 3,000
// years) of 1970 and sample indices within 2^60, so that no difference or
// sum of them overflows.
std::string time_problem(double time, double rate = 0.0);

// Window widths in samples, odd so that both windows centre on their sample.
struct Windows {
    uint32_t kurtosis;
    uint32_t jump;
    int64_t dead_time;
};

// Everything the stages of a channel need at its rate.
struct RateSettings {
    RateSettings(const onset_detect_options &options, double rate);

    double rate;
    BandPass filter;
    // The filter's FFT blocks where its kernel is long enough for them to
    // pay, else null: the kernel is then correlated directly.
    std::unique_ptr<const BandPassBlocks> filter_blocks;
    Windows windows;
    // Longest gap (in samples) that the band-pass bridges; longer ones end
    // the stretch it filters.
    int64_t bridge;
    // Identical consecutive samples this many or more are a gap.
    int64_t flat_run;
    // An onset's signal: the samples of the second after it; its noise (in
    // blocks of a tenth of a second): see noise_seconds.
    int64_t signal_span, noise_span, noise_gap, energy_block;
    // Length of the pieces the moving kurtosis and max-jump are computed in.
    // Pieces start at multiples of it counted from 1970, so that they do not
    // depend on where the input was cut, nor on where it began.
    int64_t piece;
    // The other bands and windows an onset must be seen in.
    std::unique_ptr<const BandAgreement> agreement;
    // A stretch without gaps shorter than this gives no onset strength.
    uint64_t needed_run() const { return uint64_t{windows.kurtosis} + windows.jump; }
    // Samples either part of an AIC split holds at least.
    size_t least_aic_part() const { return std::max<size_t>(4, windows.kurtosis / 16); }
};

}  // namespace detect

#endif
