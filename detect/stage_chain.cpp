// A channel's stages, step by step through one look-back store.
#include "stage_chain.h"

#include <algorithm>

namespace detect {

namespace {

// Samples taken per step, in kurtosis pieces: enough for the kurtosis
// batches to keep their vector lanes busy and for the max-jump's lanes to
// leave few windows to its plain path (each lane leaves it one or two
// windows per call, a quarter of the windows in calls of one piece).
constexpr int64_t pieces_per_step = 8;

}  // namespace

StageChain::StageChain(const RateSettings &settings, StrengthSink &sink)
    : settings_(settings),
      step_(pieces_per_step * settings.piece),
      // A step and the look-back of the stages after a step: a kurtosis
      // piece still waiting for its input, the windows around it and the
      // band-pass's pending input.
      store_(channel_columns, static_cast<size_t>(step_ + 2 * settings.piece)),
      strength_(settings, store_, sink),
      bandpass_(settings.filter, settings.filter_blocks.get(), settings.bridge, store_),
      flat_lines_(settings.flat_run)
{
}

void StageChain::take(int64_t first, const double *samples, size_t count)
{
    for (size_t from = 0; from < count;) {
        const size_t n = std::min(count - from, static_cast<size_t>(step_));
        missing_ += flat_lines_.take(first + static_cast<int64_t>(from), samples + from, n, *this);
        bandpass_.compute(false, strength_);
        trim();
        from += n;
    }
}

void StageChain::values(int64_t first, const double *x, size_t count)
{
    count_used(first, count);
    bandpass_.take(first, x, count, strength_);
}

void StageChain::repeated(int64_t first, double value, size_t count)
{
    count_used(first, count);
    bandpass_.take_repeated(first, value, count, strength_);
}

void StageChain::count_used(int64_t first, size_t count)
{
    used_ += count;
    run_ = first == last_used_ + 1 ? run_ + count : count;
    last_used_ = first + static_cast<int64_t>(count) - 1;
    longest_run_ = std::max(longest_run_, run_);
}

void StageChain::advance(int64_t index)
{
    // The run of equal samples held cannot go on past a gap.
    if (index > flat_lines_.run_end()) flat_lines_.flush(*this);
    // A gap that already spans more than the bridge ends the segment now.
    if (bandpass_.open() && index - bandpass_.last_index() - 1 > settings_.bridge) bandpass_.end_segment(strength_);
    bandpass_.compute(true, strength_);
    strength_.catch_up();
    trim();
}

void StageChain::finish()
{
    flat_lines_.flush(*this);
    bandpass_.end_segment(strength_);
    trim();
}

void StageChain::trim() { store_.trim_before(std::min(bandpass_.needs_from(), strength_.needs_from())); }

int64_t StageChain::pending_from() const
{
    return std::min({flat_lines_.held_from(), bandpass_.pending_from(), strength_.pending_from()});
}

}  // namespace detect
