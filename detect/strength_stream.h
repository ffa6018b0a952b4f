// Moving kurtosis of the band-passed channel and its moving max-jump, the
// onset strength, computed as the band-passed samples come.
#ifndef ONSET_DETECT_STRENGTH_STREAM_H
#define ONSET_DETECT_STRENGTH_STREAM_H

#include <cstdint>
#include <limits>
#include <vector>

#include "bandpass_stream.h"
#include "lookback_store.h"
#include "settings.h"

namespace detect {

// Told what a run has in the store: its band-passed samples as they come,
// its strength and kurtosis at consecutive indices (from half a kurtosis
// window into the run, when the run is long enough), then run_end() when it
// is over.
class StrengthSink {
public:
    virtual void samples(const LookbackStore &store, int64_t first, size_t count) = 0;
    virtual void strength(const LookbackStore &store, int64_t first, size_t count) = 0;
    virtual void run_end(const LookbackStore &store) = 0;
    // The first index the sink will still read, or INT64_MAX.
    virtual int64_t needs_from() const = 0;

protected:
    ~StrengthSink() = default;
};

// A run is a stretch of band-passed samples without NaN; one shorter than
// the two windows together gives nothing. Over a run [r0, r1) the kurtosis
// of the first and last half windows comes from clipped windows, where it
// means nothing, so the strength covers [r0 + h, r1 - h) only (h: half the
// kurtosis window). The kurtosis is computed in pieces whose bounds lie at
// fixed multiples of RateSettings::piece, each from its own stretch of input
// with half a window on either side, since its running sums depend on where
// they start; the max-jump of a window depends on the window alone, so it
// runs over all the kurtosis at hand at once. Every value is then the same
// however the input was cut into calls. A piece's outputs depend on its
// start and on nothing past them, so the first outputs of a piece whose
// input has not all come can be given ahead (catch_up), with the very
// values the whole piece gives: the piece is then computed again, whole,
// once its input is there.
class StrengthStream final : public FilteredSink {
public:
    StrengthStream(const RateSettings &settings, LookbackStore &store, StrengthSink &sink);

    void filtered(int64_t first, size_t count) override;
    void segment_end() override;
    // Gives the strength of every sample whose windows are full by now,
    // also inside the piece under way: a live stream's picks need not wait
    // for the rest of the piece.
    void catch_up();

    // The first strength output not yet given, or INT64_MAX when none is
    // pending.
    int64_t pending_from() const { return in_run_ ? next_strength_ : std::numeric_limits<int64_t>::max(); }
    // The first index this stage or its sink will still read, or INT64_MAX.
    int64_t needs_from() const;

private:
    struct Piece {
        int64_t keep_begin, keep_end;    // outputs kept
        int64_t input_begin, input_end;  // the stretch the library sees
    };

    void begin_run(int64_t first);
    void end_run();
    // ended: the run is over; ahead: the piece under way too, as far as its
    // input allows.
    void compute(bool ended, bool ahead = false);
    int64_t piece_end(int64_t begin) const;
    void moving_kurtosis(const std::vector<Piece> &pieces);
    void moving_jumps(int64_t begin, int64_t input_begin, int64_t input_end);

    const RateSettings &settings_;
    LookbackStore &store_;
    StrengthSink &sink_;
    int64_t kurtosis_half_, jump_half_;
    bool in_run_ = false;
    int64_t run_begin_ = 0;
    int64_t run_end_ = 0;        // band-passed samples of the run so far
    int64_t next_kurtosis_ = 0;  // first kurtosis output not computed (but ahead)
    int64_t kurtosis_end_ = 0;   // end of the kurtosis kept
    int64_t next_strength_ = 0;  // first strength output not computed
    std::vector<double> given_;  // strength put back after the max-jump
};

}  // namespace detect

#endif
