// The stages of one channel in their order, defined once for the detector
// and for the stages entry that keeps every value.
#ifndef ONSET_DETECT_STAGE_CHAIN_H
#define ONSET_DETECT_STAGE_CHAIN_H

#include <cstdint>
#include <limits>

#include "bandpass_stream.h"
#include "flat_lines.h"
#include "lookback_store.h"
#include "settings.h"
#include "strength_stream.h"

namespace detect {

// Samples in; gaps and flat lines out; band-pass, moving kurtosis and onset
// strength into one look-back store; the band-passed samples, kurtosis and
// strength to the sink, which picks onsets or records them. Input is taken
// in steps of a few pieces, and the store is trimmed after each step to
// what the stages still read, so that a channel holds about a step
// whatever the size of the calls.
class StageChain {
public:
    StageChain(const RateSettings &settings, StrengthSink &sink);

    // Takes samples at consecutive indices from `first` on, above every
    // index taken before.
    void take(int64_t first, const double *samples, size_t count);
    // No sample before `index` will come beyond those taken.
    void advance(int64_t index);
    // The end of the input: everything held is computed.
    void finish();

    // The first index whose strength may still come from what is held, or
    // INT64_MAX when nothing is held.
    int64_t pending_from() const;

    uint64_t used() const { return used_; }
    uint64_t missing() const { return missing_; }
    uint64_t longest_run() const { return longest_run_; }

private:
    friend class FlatLines;
    // The samples FlatLines lets through.
    void values(int64_t first, const double *x, size_t count);
    void repeated(int64_t first, double value, size_t count);
    void count_used(int64_t first, size_t count);
    void trim();

    const RateSettings &settings_;
    int64_t step_;
    LookbackStore store_;
    StrengthStream strength_;
    BandPassStream bandpass_;
    FlatLines flat_lines_;
    uint64_t used_ = 0, missing_ = 0, longest_run_ = 0;
    uint64_t run_ = 0;                                       // samples used in a row so far
    int64_t last_used_ = std::numeric_limits<int64_t>::min();  // the last of them
};

}  // namespace detect

#endif
