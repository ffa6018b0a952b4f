// Streaming band-pass: gap bridging, edge holds and the correlation in blocks.
#include "bandpass_stream.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "onset.h"

namespace detect {

namespace {

// Outputs gathered before a call computes them, and the block of outputs one
// thread correlates at a time.
constexpr int64_t minimum_batch = 4096;
constexpr int64_t block_outputs = 1 << 16;

}  // namespace

BandPassStream::BandPassStream(const BandPass &filter, int64_t bridge)
    : filter_(filter), bridge_(bridge), half_(filter.center)
{
}

void BandPassStream::take(int64_t index, double value, FilteredSink &sink)
{
    if (open_ && index - last_index_ - 1 > bridge_) end_segment(sink);
    if (!open_) {
        open_ = true;
        prepared_.reset(index - half_);
        prepared_.fill(value, static_cast<size_t>(half_));
        next_output_ = index;
    } else if (index > last_index_ + 1) {
        const int64_t span = index - last_index_;
        for (int64_t k = 1; k < span; ++k)
            prepared_.push(last_value_ +
                           (value - last_value_) * (static_cast<double>(k) / static_cast<double>(span)));
        gaps_.push_back({last_index_ + 1, index});
    }
    prepared_.push(value);
    last_index_ = index;
    last_value_ = value;
}

void BandPassStream::compute(bool all, FilteredSink &sink)
{
    if (!open_) return;
    const int64_t kernel_length = static_cast<int64_t>(filter_.kernel.size());
    // Output i needs the input up to i + half_.
    const int64_t count = prepared_.end() - half_ - next_output_;
    if (count <= 0 || (!all && count < minimum_batch)) return;

    // Scratch of the calling thread, shared by the channels it serves.
    thread_local std::vector<double> outputs;
    outputs.resize(static_cast<size_t>(count));
    const int64_t blocks = (count + block_outputs - 1) / block_outputs;
    const double *input = prepared_.at(next_output_ - half_);
#pragma omp parallel if (blocks > 1 && !omp_in_parallel())
    {
        std::vector<double> scratch;
#pragma omp for schedule(dynamic, 1)
        for (int64_t b = 0; b < blocks; ++b) {
            // With the centre at 0, correlation output j of the block is the
            // kernel over input j ... j + length - 1; the last length - 1
            // outputs would wrap round and are not used.
            const int64_t begin = b * block_outputs, end = std::min(count, begin + block_outputs);
            const int64_t span = end - begin + kernel_length - 1;
            scratch.resize(static_cast<size_t>(span));
            cdotx_dd(scratch.data(), input + begin, static_cast<uint32_t>(span), filter_.kernel.data(),
                     static_cast<uint32_t>(kernel_length), 0, 1);
            std::memcpy(outputs.data() + begin, scratch.data(), static_cast<size_t>(end - begin) * sizeof(double));
        }
    }
    const int64_t end = next_output_ + count;
    while (!gaps_.empty() && gaps_.front().begin < end) {
        Gap &gap = gaps_.front();
        for (int64_t i = gap.begin; i < std::min(gap.end, end); ++i)
            outputs[static_cast<size_t>(i - next_output_)] = std::numeric_limits<double>::quiet_NaN();
        if (gap.end > end) {
            gap.begin = end;
            break;
        }
        gaps_.pop_front();
    }
    const int64_t first = next_output_;
    next_output_ = end;
    prepared_.drop_before(next_output_ - half_);
    sink.filtered(first, outputs.data(), static_cast<size_t>(count));
}

void BandPassStream::end_segment(FilteredSink &sink)
{
    if (!open_) return;
    prepared_.fill(last_value_, static_cast<size_t>(half_));
    compute(true, sink);
    open_ = false;
    gaps_.clear();
    prepared_.reset(0);
    sink.segment_end();
}

}  // namespace detect
