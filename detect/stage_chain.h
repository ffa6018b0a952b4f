// The stages of one channel in their order, defined once for the detector
// and for the stages entry that keeps every value.
#ifndef ONSET_DETECT_STAGE_CHAIN_H
#define ONSET_DETECT_STAGE_CHAIN_H

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "bandpass_stream.h"
#include "flat_lines.h"
#include "lookback_store.h"
#include "sample_ranges.h"
#include "settings.h"
#include "strength_stream.h"

namespace detect {

// Samples in; gaps and flat lines out; band-pass, moving kurtosis and onset
// strength into one look-back store; the band-passed samples, kurtosis and
// strength to the sink, which picks onsets or records them. Input is taken
// in steps of a few pieces, and the store is trimmed after each step to
// what the stages still read, so that a channel holds about a step
// whatever the size of the calls.
//
// Without a sink the chain keeps the samples alone (gaps and flat lines
// taken out): a station's horizontal, which the station band-passes where
// it reads it (band_passed()), from the index it holds the samples from on.
// With a sink it may keep them as well (keep_samples()), for the windows
// that a located event picks in afterwards.
class StageChain {
public:
    StageChain(const RateSettings &settings, StrengthSink *sink);

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

    // From now on the samples are kept beside the stages too.
    void keep_samples() { keeping_ = true; }
    // Samples kept: those that the band-pass of `index` on reads stay held.
    void hold_from(int64_t index) { hold_ = index - filter_reach(); }
    // Samples kept: the band-pass of the samples held over [from, to),
    // NaN where there is none. Each value depends on the samples around it
    // alone, not on what was held beyond the filter's reach.
    std::vector<double> band_passed(int64_t from, int64_t to) const;

private:
    friend class FlatLines;
    // The samples FlatLines lets through.
    void values(int64_t first, const double *x, size_t count);
    void repeated(int64_t first, double value, size_t count);
    void count_used(int64_t first, size_t count);
    void trim();
    // How far from an output the band-pass reads: the kernel's half and,
    // with FFT blocks, the block the output lies in.
    int64_t filter_reach() const;
    FilteredSink &filtered_sink();

    const RateSettings &settings_;
    int64_t step_;
    LookbackStore store_;
    std::optional<StrengthStream> strength_;
    int64_t hold_ = std::numeric_limits<int64_t>::min();
    BandPassStream bandpass_;
    FlatLines flat_lines_;
    bool keeping_ = false;  // the samples kept: always without a sink
    SampleRanges held_;     // the samples kept
    uint64_t used_ = 0, missing_ = 0, longest_run_ = 0;
    uint64_t run_ = 0;                                       // samples used in a row so far
    int64_t last_used_ = std::numeric_limits<int64_t>::min();  // the last of them
};

}  // namespace detect

#endif
