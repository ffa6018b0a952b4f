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

StageChain::StageChain(const RateSettings &settings, StrengthSink *sink)
    : settings_(settings),
      step_(pieces_per_step * settings.piece),
      // A step and the look-back of the stages after a step: a kurtosis
      // piece still waiting for its input, the windows around it and the
      // band-pass's pending input.
      store_(channel_columns, static_cast<size_t>(step_ + 2 * settings.piece)),
      bandpass_(settings.filter, settings.filter_blocks.get(), settings.bridge, store_),
      flat_lines_(settings.flat_run)
{
    if (sink) strength_.emplace(settings, store_, *sink);
    keeping_ = !sink;
}

void StageChain::take(int64_t first, const double *samples, size_t count)
{
    for (size_t from = 0; from < count;) {
        const size_t n = std::min(count - from, static_cast<size_t>(step_));
        missing_ += flat_lines_.take(first + static_cast<int64_t>(from), samples + from, n, *this);
        if (strength_) bandpass_.compute(false, *strength_);
        trim();
        from += n;
    }
}

void StageChain::values(int64_t first, const double *x, size_t count)
{
    count_used(first, count);
    if (keeping_) held_.add(first, x, count);
    if (strength_) bandpass_.take(first, x, count, *strength_);
}

void StageChain::repeated(int64_t first, double value, size_t count)
{
    count_used(first, count);
    if (keeping_) held_.add_repeated(first, value, count);
    if (strength_) bandpass_.take_repeated(first, value, count, *strength_);
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
    if (!strength_) return;
    if (bandpass_.open() && index - bandpass_.last_index() - 1 > settings_.bridge) bandpass_.end_segment(*strength_);
    bandpass_.compute(true, *strength_);
    strength_->catch_up();
    trim();
}

void StageChain::finish()
{
    flat_lines_.flush(*this);
    if (strength_) bandpass_.end_segment(*strength_);
    trim();
}

void StageChain::trim()
{
    if (keeping_) held_.trim_before(hold_);
    if (!strength_) return;
    store_.trim_before(std::min(bandpass_.needs_from(), strength_->needs_from()));
}

int64_t StageChain::filter_reach() const
{
    return settings_.filter.center + (settings_.filter_blocks ? settings_.filter_blocks->block_outputs() : 0);
}

namespace {

// Keeps the band-passed samples within [from, to) as the band-pass gives
// them.
class BandPassedWindow final : public FilteredSink {
public:
    BandPassedWindow(const LookbackStore &store, int64_t from, int64_t to)
        : store_(store), from_(from), values_(static_cast<size_t>(to - from), std::numeric_limits<double>::quiet_NaN())
    {
    }
    void filtered(int64_t first, size_t count) override
    {
        const int64_t end = first + static_cast<int64_t>(count);
        const int64_t to = from_ + static_cast<int64_t>(values_.size());
        for (int64_t i = std::max(first, from_); i < std::min(end, to); ++i)
            values_[static_cast<size_t>(i - from_)] = store_.value(Column::filtered, i);
    }
    void segment_end() override {}
    std::vector<double> take() { return std::move(values_); }

private:
    const LookbackStore &store_;
    int64_t from_;
    std::vector<double> values_;
};

}  // namespace

std::vector<double> StageChain::band_passed(int64_t from, int64_t to) const
{
    const int64_t reach = filter_reach();
    LookbackStore store(channel_columns, static_cast<size_t>(to - from + 4 * reach + 4096));
    BandPassStream bandpass(settings_.filter, settings_.filter_blocks.get(), settings_.bridge, store);
    BandPassedWindow window(store, from, to);
    std::vector<double> run;
    held_.for_each_run(from - reach, to + reach, [&](int64_t first, auto values, size_t count) {
        run.assign(values, values + static_cast<std::ptrdiff_t>(count));
        bandpass.take(first, run.data(), count, window);
        bandpass.compute(false, window);
    });
    bandpass.end_segment(window);
    return window.take();
}

int64_t StageChain::pending_from() const
{
    return std::min({flat_lines_.held_from(), bandpass_.pending_from(),
                     strength_ ? strength_->pending_from() : std::numeric_limits<int64_t>::max()});
}

}  // namespace detect
