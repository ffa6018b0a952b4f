// Samples at absolute sample indices [begin, end): the look-back window of a
// stage, appended at the end and dropped from the front.
#ifndef ONSET_DETECT_SAMPLE_BUFFER_H
#define ONSET_DETECT_SAMPLE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace detect {

class SampleBuffer {
public:
    int64_t begin() const { return begin_; }
    int64_t end() const { return begin_ + static_cast<int64_t>(data_.size() - head_); }
    bool empty() const { return data_.size() == head_; }

    // Empties the buffer; the next sample appended gets index `first`.
    void reset(int64_t first)
    {
        data_.clear();
        head_ = 0;
        begin_ = first;
        release();
    }
    void push(double value) { data_.push_back(value); }
    void append(const double *values, size_t count) { data_.insert(data_.end(), values, values + count); }
    void fill(double value, size_t count) { data_.insert(data_.end(), count, value); }

    double operator[](int64_t index) const { return data_[position(index)]; }
    double &operator[](int64_t index) { return data_[position(index)]; }
    const double *at(int64_t index) const { return data_.data() + position(index); }
    double *at(int64_t index) { return data_.data() + position(index); }

    // Forgets the samples before `index` (all of them when it lies beyond the
    // end). The storage moves down only when the dropped part is large, so
    // that dropping costs amortised constant time per sample.
    void drop_before(int64_t index)
    {
        if (index <= begin_) return;
        if (index >= end()) {
            reset(index);
            return;
        }
        head_ += static_cast<size_t>(index - begin_);
        begin_ = index;
        if (head_ >= 256 && head_ * 2 >= data_.size()) {
            data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
            release();
        }
    }

private:
    // A channel keeps only its look-back: storage left over from a large
    // chunk goes back, or a network of many channels would hold one chunk
    // of each.
    void release()
    {
        if (data_.capacity() > 2 * data_.size() + 1024) std::vector<double>(data_).swap(data_);
    }

    size_t position(int64_t index) const { return head_ + static_cast<size_t>(index - begin_); }

    std::vector<double> data_;
    size_t head_ = 0;   // data_[head_] holds sample begin_
    int64_t begin_ = 0;
};

}  // namespace detect

#endif
