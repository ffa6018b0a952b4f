// Samples kept by ranges of indices, with gaps between them.
#ifndef ONSET_DETECT_SAMPLE_RANGES_H
#define ONSET_DETECT_SAMPLE_RANGES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace detect {

// Appended in index order, trimmed from the front.
class SampleRanges {
public:
    void add(int64_t first, const double *x, size_t count)
    {
        values_.insert(values_.end(), x, x + count);
        extend(first, count);
    }
    void add_repeated(int64_t first, double value, size_t count)
    {
        values_.insert(values_.end(), count, value);
        extend(first, count);
    }
    // Forgets the samples before `index`.
    void trim_before(int64_t index)
    {
        while (!ranges_.empty() && ranges_.front().begin < index) {
            Range &range = ranges_.front();
            const int64_t dropped = std::min(index, range.end) - range.begin;
            front_ += static_cast<size_t>(dropped);
            range.begin += dropped;
            if (range.begin == range.end) ranges_.pop_front();
        }
        // The samples forgotten are let go once they are the most, so that
        // each is moved about once.
        if (front_ > values_.size() / 2) {
            values_.erase(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(front_));
            front_ = 0;
        }
    }
    // Calls run(first, values, count) for each stretch without a gap within
    // [from, to), in order.
    template <class Run>
    void for_each_run(int64_t from, int64_t to, Run run) const
    {
        size_t offset = front_;
        for (const Range &range : ranges_) {
            const int64_t begin = std::max(from, range.begin), end = std::min(to, range.end);
            if (begin < end) {
                const auto at = values_.begin() + static_cast<std::ptrdiff_t>(offset + static_cast<size_t>(begin - range.begin));
                run(begin, at, static_cast<size_t>(end - begin));
            }
            offset += static_cast<size_t>(range.end - range.begin);
        }
    }

private:
    struct Range {
        int64_t begin, end;
    };
    void extend(int64_t first, size_t count)
    {
        const int64_t end = first + static_cast<int64_t>(count);
        if (!ranges_.empty() && ranges_.back().end == first) ranges_.back().end = end;
        else ranges_.push_back({first, end});
    }
    std::deque<Range> ranges_;
    std::vector<double> values_;  // of the ranges, one after the other, from front_ on
    size_t front_ = 0;
};

}  // namespace detect

#endif
