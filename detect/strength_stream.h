// Moving kurtosis of the band-passed channel and its moving max-jump, the
// onset strength, computed in pieces as the band-passed samples come.
#ifndef ONSET_DETECT_STRENGTH_STREAM_H
#define ONSET_DETECT_STRENGTH_STREAM_H

#include <cstdint>
#include <vector>

#include "bandpass_stream.h"
#include "onset.h"
#include "sample_buffer.h"
#include "settings.h"

namespace detect {

// Where a run goes: its band-passed samples as they come, its strength and
// kurtosis at consecutive indices (from half a kurtosis window into the
// run, when the run is long enough), then run_end() when it is over.
class StrengthSink {
public:
    virtual void samples(int64_t first, const double *filtered, size_t count) = 0;
    virtual void strength(int64_t first, const double *strength, const double *kurtosis, size_t count) = 0;
    virtual void run_end() = 0;

protected:
    ~StrengthSink() = default;
};

// A run is a stretch of band-passed samples without NaN; one shorter than
// the two windows together gives nothing. Over a run [r0, r1) the kurtosis
// of the first and last half windows comes from clipped windows, where it
// means nothing, so the strength covers [r0 + h, r1 - h) only (h: half the
// kurtosis window). Both functions are computed in pieces whose bounds lie
// at fixed multiples of RateSettings::piece, each from its own stretch of
// input with half a window on either side: every value is then the same
// however the input was cut into calls.
class StrengthStream final : public FilteredSink {
public:
    StrengthStream(const RateSettings &settings, StrengthSink &sink);

    void filtered(int64_t first, const double *values, size_t count) override;
    void segment_end() override;

    // The first strength output not yet given, or INT64_MAX when none is
    // pending.
    int64_t pending_from() const { return in_run_ ? next_strength_ : INT64_MAX; }

private:
    struct Piece {
        int64_t keep_begin, keep_end;    // outputs kept
        int64_t input_begin, input_end;  // the stretch the library sees
    };

    void begin_run(int64_t first);
    void end_run();
    void compute(bool ended);
    int64_t piece_end(int64_t begin) const;
    // Runs the pieces through a batch entry of the library into the calling
    // thread's scratch outputs.
    static void run_batch(void (*batch_function)(const TraceBatch *), const SampleBuffer &input,
                          const std::vector<Piece> &pieces, uint32_t window);
    void moving_kurtosis(const std::vector<Piece> &pieces);
    void strength_pieces(const std::vector<Piece> &pieces);

    const RateSettings &settings_;
    StrengthSink &sink_;
    int64_t kurtosis_half_, jump_half_;
    bool in_run_ = false;
    int64_t run_begin_ = 0;
    int64_t next_kurtosis_ = 0;  // first kurtosis output not computed
    int64_t next_strength_ = 0;  // first strength output not computed
    SampleBuffer filtered_;      // from next_kurtosis_ - half a window on
    SampleBuffer kurtosis_;      // from next_strength_ - half a jump window on
};

}  // namespace detect

#endif
