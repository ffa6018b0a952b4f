// The look-back of a channel's stages: columns of samples side by side over
// one range of absolute sample indices, each stage reading and writing its
// columns in place.
#ifndef ONSET_DETECT_LOOKBACK_STORE_H
#define ONSET_DETECT_LOOKBACK_STORE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace detect {

// The columns of one channel. A station's components would add columns of
// their own to the same store, all over the same indices.
enum class Column : size_t { raw, filtered, kurtosis, strength };
constexpr size_t channel_columns = 4;

// Indices [begin, end) of every column, each column contiguous. Indices are
// appended at the end, trimmed from the front, and the kept tail moves down
// to the start only when the end reaches the capacity, as a sliding window
// does: with a capacity of a step and the look-back (`working`), the
// look-back moves once a step. The storage grows (and never shrinks) only
// when the indices held need more than the capacity: from a few thousand,
// doubling up to the working capacity, so that a network of many channels
// with little data each does not hold a step of each.
class LookbackStore {
public:
    LookbackStore(size_t columns, size_t working) : columns_(columns), working_(working) {}

    int64_t begin() const { return begin_; }
    int64_t end() const { return end_; }

    // Empties the store; its indices start again at `first`.
    void reset(int64_t first)
    {
        begin_ = end_ = first;
        head_ = 0;
    }

    // Makes the indices up to `end` addressable; their values are unset
    // until a stage writes them.
    void extend_to(int64_t end)
    {
        if (end <= end_) return;
        const auto needed = static_cast<size_t>(end - begin_);
        if (head_ + needed > capacity_) make_room(needed);
        end_ = end;
    }

    // Forgets the indices before `index`; all of them when it lies at or
    // beyond the end.
    void trim_before(int64_t index)
    {
        if (index <= begin_) return;
        if (index >= end_) {
            reset(end_);
            return;
        }
        head_ += static_cast<size_t>(index - begin_);
        begin_ = index;
    }

    double *at(Column column, int64_t index) { return data_.data() + position(column, index); }
    const double *at(Column column, int64_t index) const { return data_.data() + position(column, index); }
    double value(Column column, int64_t index) const { return data_[position(column, index)]; }

    size_t capacity() const { return capacity_; }

private:
    size_t position(Column column, int64_t index) const
    {
        return static_cast<size_t>(column) * capacity_ + head_ + static_cast<size_t>(index - begin_);
    }

    void make_room(size_t needed)
    {
        const auto kept = static_cast<size_t>(end_ - begin_);
        if (needed > capacity_) {
            const size_t capacity =
                std::max(needed + needed / 2, std::min(working_, std::max<size_t>(2 * capacity_, 4096)));
            std::vector<double> grown(columns_ * capacity);
            // The first growth has nothing to keep (and no storage to copy from).
            for (size_t c = 0; c < columns_ && kept > 0; ++c)
                std::memcpy(grown.data() + c * capacity, data_.data() + c * capacity_ + head_, kept * sizeof(double));
            data_.swap(grown);
            capacity_ = capacity;
        } else {
            for (size_t c = 0; c < columns_; ++c)
                std::memmove(data_.data() + c * capacity_, data_.data() + c * capacity_ + head_, kept * sizeof(double));
        }
        head_ = 0;
    }

    size_t columns_;
    size_t working_;
    size_t capacity_ = 0;
    std::vector<double> data_;  // column c at [c * capacity_, (c + 1) * capacity_)
    size_t head_ = 0;           // position of begin_ within each column
    int64_t begin_ = 0, end_ = 0;
};

// A stage's view of one column over the indices it holds, [begin, end);
// valid until the store next changes its range.
class ColumnView {
public:
    ColumnView(const LookbackStore &store, Column column, int64_t begin, int64_t end)
        : values_(end > begin ? store.at(column, begin) : nullptr), begin_(begin), end_(end)
    {
    }
    int64_t begin() const { return begin_; }
    int64_t end() const { return end_; }
    double operator[](int64_t index) const { return values_[index - begin_]; }
    const double *at(int64_t index) const { return values_ + (index - begin_); }

private:
    const double *values_;
    int64_t begin_, end_;
};

}  // namespace detect

#endif
