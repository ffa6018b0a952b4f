// Whether an onset is seen in other bands and kurtosis windows too. A rise
// of the kurtosis in noise comes and goes with the band and the window; an
// arrival stands out in most of them. Recomputed around each onset from the
// samples held, this costs a few hundred samples per onset instead of a
// second chain of stages over the whole trace.
#ifndef ONSET_DETECT_BAND_AGREEMENT_H
#define ONSET_DETECT_BAND_AGREEMENT_H

#include <cstdint>
#include <vector>

#include "bandpass_design.h"
#include "lookback_store.h"
#include "onset_detect.h"

namespace detect {

// Picks of another band or window this close to the onset agree with it.
constexpr double agreement_seconds = 0.2;
// An onset whose second after it holds this many times the mean square of
// its noise (17 dB) is an arrival whatever the other bands say: a strong
// arrival's energy may lie in one band alone, and rises of the kurtosis in
// noise stand out far less.
constexpr double evident_snr = 50.0;

// The variants: the band itself with half and twice the kurtosis and jump
// windows; the band an octave higher (up to where the rate allows) and an
// octave lower, each with the kurtosis window. Each picks
// on its own around the onset, as the channel does: the largest rise of its
// kurtosis within a jump window of where the onset enters the kurtosis
// window, refined by AIC. The onset stands when at most one variant
// disagrees.
class BandAgreement {
public:
    // `kurtosis_half`, `jump_half`: the channel's half windows in samples;
    // `ahead`: samples after an onset that are band-passed when it is
    // judged, unless its stretch ends first.
    BandAgreement(const onset_detect_options &options, double rate, int64_t kurtosis_half, int64_t jump_half,
                  int64_t ahead);

    // Samples before an onset, raw or band-passed, that a check reads.
    int64_t reach_back() const { return back_ + longest_half_; }
    // Band-passed samples after an onset that a check needs, unless its
    // stretch ends first.
    int64_t reach_ahead() const { return ahead_ + longest_half_; }

    // Whether the onset at `pick` stands. `raw` and `filtered` hold the
    // stretch's samples from reach_back() before the pick (or its start)
    // to reach_ahead() after it (or its end); [begin, end) is the stretch,
    // end INT64_MAX while it goes on.
    bool agrees(int64_t pick, const ColumnView &raw, const ColumnView &filtered, int64_t begin, int64_t end) const;

    size_t variant_count() const { return variants_.size(); }

private:
    struct Variant {
        BandPass filter;  // no kernel: the channel's own band
        int64_t half;     // of the kurtosis window
        int64_t reach;    // half the jump window
        int64_t back;     // band-passed samples it reads before an onset
    };

    // The variant's band over [from, to) into `band`.
    static void band_pass(const BandPass &filter, const ColumnView &raw, int64_t from, int64_t to, int64_t begin,
                          int64_t end);
    bool picks_near(const Variant &variant, int64_t pick, const double *filtered, int64_t from, int64_t to) const;

    std::vector<Variant> variants_;
    double threshold_;
    int64_t tolerance_;
    int64_t back_ = 0;          // band-passed samples before an onset
    int64_t ahead_;             // and after it
    int64_t longest_half_ = 0;  // of the variants' kernels
};

}  // namespace detect

#endif
