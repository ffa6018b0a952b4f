// P or S: which onsets of a channel begin a new event, which is the S wave
// of the event under way, and which are only its coda.
#ifndef ONSET_DETECT_PHASE_LABELS_H
#define ONSET_DETECT_PHASE_LABELS_H

#include <cstdint>

#include "energy_history.h"
#include "lookback_store.h"
#include "settings.h"

namespace detect {

// An onset begins a new event (P) when the second after it stands out of
// the noise: its mean square is at least min_snr times the noise level, the
// mean square of the 10 s before it, or of the last 2 s when they are
// quieter (an arrival in the decaying coda of an earlier event), but no
// less than the lower quartile of the tenth-of-a-second mean squares over
// the 10 s (a floor that a passing burst does not raise). Its wave train then goes on, second by second, while the
// mean square stays above twice that noise level, for 30 s at most. Within
// the train, the first onset whose second after it holds twice the mean
// square of the two seconds before it is the S wave; every other onset
// there is coda, and dropped. A train begun by a weak P (one that stands out
// less than event_snr) gives way to an onset that stands out of its noise by
// event_snr or more: the weak one was noise or a small event, the new one
// begins an event of its own.
class PhaseLabels {
public:
    // What became of an onset, and why when it was dropped.
    enum class Verdict { p, s, low_snr, dead_time, coda, warm_up };

    PhaseLabels(const RateSettings &settings, double min_snr, double event_snr);

    // A new run: no wave train goes on.
    void reset();
    // 'P', 'S' or 0 (dropped) for the onset at `pick`; the band-passed
    // samples must reach a second beyond it or the run's end. Outside a wave
    // train an onset that may not begin an event (within the dead time of
    // the last P) is dropped.
    char label(int64_t pick, bool may_begin, const ColumnView &filtered, const EnergyHistory &energy);
    // The P onset of the wave train under way (valid after an 'S').
    int64_t train_start() const { return train_start_; }
    // How far the last P labelled stood out of its noise (its mean square
    // over the noise level; infinite when the noise was not known).
    double last_snr() const { return last_snr_; }
    // The verdict on the last onset labelled, and how far it stood out of
    // its noise where that was measured (a P, or one dropped for it; NaN
    // otherwise).
    Verdict last_verdict() const { return verdict_; }
    double last_onset_snr() const { return onset_snr_; }
    // The first sample whose block energy a later label may read.
    int64_t needs_from() const;

private:
    double mean_square_after(int64_t pick, const ColumnView &filtered) const;
    bool train_goes_on(int64_t pick, const EnergyHistory &energy);

    const RateSettings &settings_;
    double min_snr_;
    double event_snr_;
    int64_t window_blocks_;       // a second of blocks
    int64_t longest_train_;       // samples
    bool in_train_ = false;
    bool has_s_ = false;
    int64_t train_start_ = 0;
    double train_noise_ = 0.0;
    double last_snr_ = 0.0;
    Verdict verdict_ = Verdict::p;
    double onset_snr_ = 0.0;
    int64_t next_window_ = 0;     // first block of the train's next second to check
};

}  // namespace detect

#endif
