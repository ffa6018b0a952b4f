// Streaming band-pass: gap bridging, edge holds and the correlation.
#include "bandpass_stream.h"

#include <algorithm>
#include <cstring>

#include "index_math.h"
#include "onset.h"

namespace detect {

namespace {

// Outputs gathered before a call computes them.
constexpr int64_t minimum_batch = 4096;

}  // namespace

BandPassStream::BandPassStream(const BandPass &filter, const BandPassBlocks *blocks, int64_t bridge,
                               LookbackStore &store)
    : filter_(filter), blocks_(blocks), bridge_(bridge), half_(filter.center), store_(store)
{
}

int64_t BandPassStream::block_begin(int64_t index) const
{
    if (!blocks_) return index;
    return floor_divide(index, blocks_->block_outputs()) * blocks_->block_outputs();
}

double *BandPassStream::input_at(int64_t first, double value, size_t count, FilteredSink &sink)
{
    if (open_ && first - last_index_ - 1 > bridge_) end_segment(sink);
    if (!open_) {
        // Nothing of an earlier segment is needed any more. The input is held
        // at the first sample from the input of the block that holds it on.
        open_ = true;
        const int64_t held_from = block_begin(first) - half_;
        store_.reset(held_from);
        store_.extend_to(first);
        std::fill_n(store_.at(Column::raw, held_from), first - held_from, value);
        next_output_ = first;
    } else if (first > last_index_ + 1) {
        const int64_t span = first - last_index_;
        store_.extend_to(first);
        double *bridge = store_.at(Column::raw, last_index_);
        for (int64_t k = 1; k < span; ++k)
            bridge[k] = last_value_ + (value - last_value_) * (static_cast<double>(k) / static_cast<double>(span));
        gaps_.push_back({last_index_ + 1, first});
    }
    store_.extend_to(first + static_cast<int64_t>(count));
    last_index_ = first + static_cast<int64_t>(count) - 1;
    input_end_ = last_index_ + 1;
    return store_.at(Column::raw, first);
}

void BandPassStream::take(int64_t first, const double *values, size_t count, FilteredSink &sink)
{
    if (count == 0) return;
    std::memcpy(input_at(first, values[0], count, sink), values, count * sizeof(double));
    last_value_ = values[count - 1];
}

void BandPassStream::take_repeated(int64_t first, double value, size_t count, FilteredSink &sink)
{
    if (count == 0) return;
    std::fill_n(input_at(first, value, count, sink), count, value);
    last_value_ = value;
}

void BandPassStream::correlate(const double *input, int64_t count, double *output) const
{
    // With the centre at 0, correlation output j is the kernel over input
    // j ... j + length - 1; the last length - 1 outputs would wrap round and
    // are scratch.
    const auto kernel_length = static_cast<int64_t>(filter_.kernel.size());
    cdotx_dd(output, input, static_cast<uint32_t>(count + kernel_length - 1), filter_.kernel.data(),
             static_cast<uint32_t>(kernel_length), 0, 1);
}

void BandPassStream::correlate_blocks(int64_t end)
{
    // Scratch of the calling thread, shared by the channels it serves: a
    // block's outputs before next_output_ were given already.
    thread_local std::vector<double> outputs;
    const int64_t length = blocks_->block_outputs();
    outputs.resize(static_cast<size_t>(length));
    for (int64_t block = block_begin(next_output_); block < end; block += length) {
        blocks_->correlate(store_.at(Column::raw, block - half_), outputs.data());
        const int64_t from = std::max(block, next_output_), to = std::min(block + length, end);
        std::copy_n(outputs.data() + (from - block), to - from, store_.at(Column::filtered, from));
    }
}

void BandPassStream::give_until(int64_t end, FilteredSink &sink)
{
    if (blocks_) {
        correlate_blocks(end);
    } else {
        store_.extend_to(end + static_cast<int64_t>(filter_.kernel.size()) - 1);
        correlate(store_.at(Column::raw, next_output_ - half_), end - next_output_,
                  store_.at(Column::filtered, next_output_));
    }
    while (!gaps_.empty() && gaps_.front().begin < end) {
        Gap &gap = gaps_.front();
        const int64_t gap_end = std::min(gap.end, end);
        std::fill_n(store_.at(Column::filtered, gap.begin), gap_end - gap.begin,
                    std::numeric_limits<double>::quiet_NaN());
        if (gap.end > end) {
            gap.begin = end;
            break;
        }
        gaps_.pop_front();
    }
    const int64_t first = next_output_;
    next_output_ = end;
    sink.filtered(first, static_cast<size_t>(end - first));
}

void BandPassStream::compute(bool all, FilteredSink &sink)
{
    if (!open_) return;
    // Output i needs the input up to i + half_; with blocks, so does every
    // output of its block.
    const int64_t end = block_begin(input_end_ - half_);
    if (end <= next_output_ || (!all && end - next_output_ < minimum_batch)) return;
    give_until(end, sink);
}

void BandPassStream::end_segment(FilteredSink &sink)
{
    if (!open_) return;
    // The last outputs read the last sample held, to the end of the input of
    // the block that holds the last output.
    const int64_t end = input_end_;
    const int64_t held_to = block_begin(end - 1) + (blocks_ ? blocks_->block_outputs() : 1) + half_;
    store_.extend_to(held_to);
    std::fill_n(store_.at(Column::raw, input_end_), held_to - input_end_, last_value_);
    input_end_ = held_to;
    if (end > next_output_) give_until(end, sink);
    open_ = false;
    gaps_.clear();
    sink.segment_end();
}

}  // namespace detect
