// Onsets of one channel: the peaks of its onset strength above the
// threshold, at most one per dead time, picked as the strength comes.
#ifndef ONSET_DETECT_ONSET_PICKER_H
#define ONSET_DETECT_ONSET_PICKER_H

#include <cstdint>
#include <vector>

#include "energy_history.h"
#include "first_motion.h"
#include "phase_labels.h"
#include "lookback_store.h"
#include "settings.h"
#include "strength_stream.h"

namespace detect {

struct Onset {
    int64_t index;       // sample of the pick
    double strength;     // rise of the kurtosis that made it
    int64_t half_width;  // samples either side where the arrival may lie
    char phase;          // 'P' or 'S'
    int64_t train;       // the P onset of its event on this channel
    double snr;          // of a P: how far it stands out of the noise
    int32_t polarity;    // first motion: 'U', 'D' or 0 where it is not clear
    bool searched = false;  // an S found by searching after its P, not a rise
    bool confirmed = true;  // a P that needs no check, or that other bands and windows see too
};

// An excursion's candidate onset and what became of it, for pictures that
// show why an excursion made no pick.
struct JudgedOnset {
    int64_t index;     // sample of the candidate pick
    int64_t peak;      // sample of the excursion's peak
    double strength;   // at the peak
    double snr;        // as PhaseLabels measured it, NaN where it did not
    PhaseLabels::Verdict verdict;
};

// An excursion is a stretch of strength at or above the threshold; its
// (first) highest sample is its peak. The kurtosis rises inside the peak's
// max-jump window (clipped to the run): from the window's first minimum of
// the kurtosis to its first maximum. The pick is the steepest step of that
// rise, moved on by half a kurtosis window, since kurtosis output i covers
// the samples up to i + h and so rises when the arrival's first samples
// enter its window. That pick is then refined to the arrival itself: the
// split of the band-passed samples within half a kurtosis window of it that
// is best by the Akaike information criterion. PhaseLabels then tells a new
// event's P from the S wave and coda of the one under way; a P within the
// dead time of the previous one is dropped. A P that stands out by event_snr
// (but less than evident_snr) is confirmed only where other bands and
// windows see it too (BandAgreement); one that is not cannot make an event
// on its own. No onset is picked before the
// windows behind it are full: the filter's half kernel, the kurtosis and
// the max-jump windows from the start of the run. The pick's first motion
// is read on the raw samples, with the half kurtosis window before the pick
// as its noise; a searched S, inside the P's coda, is given none.
// Each P's S is searched on the band-passed samples after it, from a
// little after the P to the largest amplitude within s_window_seconds (or
// before the next P): the split of that stretch best by the Akaike
// information criterion, where the S wave's larger amplitudes set in.
class OnsetPicker final : public StrengthSink {
public:
    OnsetPicker(const RateSettings &settings, double threshold, double min_snr, double event_snr);

    void samples(const LookbackStore &store, int64_t first, size_t count) override;
    void strength(const LookbackStore &store, int64_t first, size_t count) override;
    void run_end(const LookbackStore &store) override;
    int64_t needs_from() const override;

    // Takes the onsets found since the last call, in time order.
    std::vector<Onset> take_onsets();

    // No onset found later lies before this index, provided that the
    // strength still to come starts at `next_strength` or later.
    int64_t horizon(int64_t next_strength) const;
    // The same for the onsets of excursions, P and S labels: only the S
    // searched after the last P may still come before it.
    int64_t excursion_horizon(int64_t next_strength) const;

    uint64_t onset_count() const { return onset_count_; }

    // From now on every candidate is judged into `judged` as well, the
    // dropped ones too (the detector does not ask).
    void keep_judged(std::vector<JudgedOnset> *judged) { judged_ = judged; }

private:
    // The columns this picker reads, over the indices it holds of them.
    struct Views {
        ColumnView raw, filtered, strength, kurtosis;
    };

    void scan(const LookbackStore &store, bool ended);
    Onset refine(int64_t peak, const Views &views) const;
    // The S of the P at s_train_, searched up to `end` (exclusive).
    void search_s(const Views &views, int64_t end);

    const RateSettings &settings_;
    double threshold_;
    double event_snr_;
    int64_t reach_;  // half the max-jump window
    int64_t lead_;   // half the kurtosis window
    int64_t dead_time_;
    int64_t behind_;  // band-passed samples before a pick that judging it reads
    int64_t warm_up_;  // the filter's half kernel and both windows
    int64_t run_first_ = 0;  // the run's first band-passed sample
    int64_t s_gap_, s_reach_;  // the S searched from s_gap_ to s_reach_ after its P
    bool s_search_ = false;    // the S of the P at s_train_ is still to be searched
    int64_t s_train_ = 0;
    size_t least_part_;  // samples of either part of an AIC split
    FirstMotion first_motion_;
    int64_t next_allowed_ = INT64_MIN;
    uint64_t onset_count_ = 0;

    bool in_run_ = false;
    bool has_strength_ = false;
    int64_t run_begin_ = 0;     // of the strength
    int64_t filtered_from_ = 0, filtered_end_ = 0;  // the run's band-passed (and raw) samples held
    EnergyHistory energy_;      // and their block energies
    PhaseLabels labels_;
    int64_t strength_from_ = 0, strength_end_ = 0;  // its strength and kurtosis held
    int64_t next_ = 0;           // first sample not yet scanned
    bool in_excursion_ = false;  // scanning an excursion, or waiting to place its peak
    bool excursion_over_ = false;
    int64_t peak_ = 0;
    bool placed_ = false;        // candidate_ is the pick of peak_
    bool labelled_ = false;      // and has its phase
    Onset candidate_{0, 0.0, 0, 'P', 0, 0.0, 0};
    std::vector<Onset> found_;
    std::vector<JudgedOnset> *judged_ = nullptr;
};

}  // namespace detect

#endif
