// The band-pass of one channel, computed as its samples come.
#ifndef ONSET_DETECT_BANDPASS_STREAM_H
#define ONSET_DETECT_BANDPASS_STREAM_H

#include <cstdint>
#include <deque>
#include <limits>

#include "bandpass_blocks.h"
#include "bandpass_design.h"
#include "lookback_store.h"

namespace detect {

// Told when band-passed samples have been written to the store's filtered
// column: consecutive indices within a segment, NaN over bridged gaps;
// segment_end() when a segment has been given whole.
class FilteredSink {
public:
    virtual void filtered(int64_t first, size_t count) = 0;
    virtual void segment_end() = 0;

protected:
    ~FilteredSink() = default;
};

// The filter runs over segments: stretches of samples whose gaps are at most
// `bridge` samples long. Within a segment a gap is bridged by a straight
// line between the samples on either side, so that it puts no step into
// the filter, and the outputs over the gap are NaN. Before its first sample
// and after its last, a segment is held at its edge samples. Output i is
// the kernel over the samples i - center ... i + center; every output has
// the same value however the samples were cut into calls. The filter's
// input is the store's raw column, its output the filtered column. A long
// kernel is correlated in FFT blocks, which lie at fixed multiples of their
// length counted from 1970; a block is computed once its whole input has
// come, or when its segment ends, so that its bits too depend on the data
// alone.
class BandPassStream {
public:
    // `blocks`: the filter's FFT blocks, or null to correlate directly.
    BandPassStream(const BandPass &filter, const BandPassBlocks *blocks, int64_t bridge, LookbackStore &store);

    bool open() const { return open_; }
    // Index of the last sample taken; valid when open.
    int64_t last_index() const { return last_index_; }
    // The first output not yet given, or INT64_MAX when none is pending.
    int64_t pending_from() const { return open_ ? next_output_ : std::numeric_limits<int64_t>::max(); }
    // The first index of the raw column still to be read, or INT64_MAX.
    int64_t needs_from() const
    {
        return open_ ? block_begin(next_output_) - half_ : std::numeric_limits<int64_t>::max();
    }

    // Takes finite samples at consecutive indices from `first` on, above the
    // last one taken: `count` values, or `count` times one value. A gap
    // longer than the bridge first ends the open segment.
    void take(int64_t first, const double *values, size_t count, FilteredSink &sink);
    void take_repeated(int64_t first, double value, size_t count, FilteredSink &sink);

    // Gives the sink every output that the samples taken so far determine:
    // with `all` false only once a few thousand have gathered.
    void compute(bool all, FilteredSink &sink);

    // Ends the open segment (its last outputs use the edge sample); nothing
    // happens when none is open.
    void end_segment(FilteredSink &sink);

private:
    struct Gap {
        int64_t begin, end;
    };

    // Room in the raw column for `count` samples from `first`, whose first
    // value is `value`, after the segment's start or the bridge before them.
    double *input_at(int64_t first, double value, size_t count, FilteredSink &sink);
    // The first output of the block that holds output `index` (`index`
    // itself without blocks).
    int64_t block_begin(int64_t index) const;
    // The `count` outputs from `input` on (input holds count + 2 * centre
    // samples) into `output`, which has room for the kernel's length - 1
    // more as scratch.
    void correlate(const double *input, int64_t count, double *output) const;
    // The outputs next_output_ ... end - 1 into the filtered column, from
    // the blocks that hold them; their input is all in the raw column.
    void correlate_blocks(int64_t end);
    // Gives the outputs up to `end`, NaN over the bridged gaps.
    void give_until(int64_t end, FilteredSink &sink);

    const BandPass &filter_;
    const BandPassBlocks *blocks_;
    int64_t bridge_;
    int64_t half_;             // the kernel's centre
    LookbackStore &store_;
    bool open_ = false;
    int64_t last_index_ = 0;   // last sample taken
    double last_value_ = 0.0;
    int64_t input_end_ = 0;    // end of the filter's input in the raw column
    int64_t next_output_ = 0;  // first output not yet given
    std::deque<Gap> gaps_;     // bridged gaps at or after next_output_
};

}  // namespace detect

#endif
