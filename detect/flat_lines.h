// Runs of identical samples, which no working sensor records: a dead
// channel, or a gap that the recorder filled with a constant. Found over
// whole stretches of input, which go on in bulk.
#ifndef ONSET_DETECT_FLAT_LINES_H
#define ONSET_DETECT_FLAT_LINES_H

#include <cstddef>
#include <cstdint>
#include <limits>

namespace detect {

// The first j in [from, count) where x[j] is not finite or equals x[j - 1],
// or `count`; x[from - 1] must be finite. Blocks go through a loop that the
// compiler vectorises (selects, as a flag of integers or a sum would not
// vectorise without reordering); only the block that holds the answer is
// searched sample by sample. x - x is 0 for every finite x, NaN otherwise.
inline size_t next_flat_or_missing(const double *x, size_t from, size_t count)
{
    constexpr size_t block = 32;
    size_t j = from;
    for (; j + block <= count; j += block) {
        double found = 0.0;
        for (size_t k = j; k < j + block; ++k) {
            found = x[k] == x[k - 1] ? 1.0 : found;
            found = x[k] - x[k] == 0.0 ? found : 1.0;
        }
        if (found != 0.0) break;
    }
    for (; j < count; ++j)
        if (x[j] == x[j - 1] || !(x[j] - x[j] == 0.0)) break;
    return j;
}

// Splits consecutive samples into what is used and what is a gap: samples
// that are not finite, and runs of `shortest` or more identical samples.
// The run at the end of the input is held until it either ends, and is
// released, or reaches `shortest` samples, and is dropped with the rest of
// the run. Used samples go to the sink as stretches at consecutive indices:
// sink.values(first, x, count) and sink.repeated(first, value, count).
class FlatLines {
public:
    explicit FlatLines(int64_t shortest) : shortest_(shortest) {}

    // Takes x[0 .. count - 1] at indices from `first` on, above every index
    // taken before. Returns the number of samples found to be gaps.
    template <class Sink>
    uint64_t take(int64_t first, const double *x, size_t count, Sink &sink)
    {
        uint64_t missing = 0;
        if (length_ > 0 && first != first_ + length_) flush(sink);
        size_t i = 0;
        while (i < count) {
            const double v = x[i];
            if (!(v - v == 0.0)) {
                flush(sink);
                ++missing;
                ++i;
                continue;
            }
            if (length_ > 0 && v == value_) {
                size_t k = i + 1;
                while (k < count && x[k] == v) ++k;
                missing += grow_run(static_cast<int64_t>(k - i));
                i = k;
                continue;
            }
            flush(sink);
            // Up to the next repeat or missing sample, every sample is a run
            // of its own, used at once; the last one starts a run.
            const size_t j = next_flat_or_missing(x, i + 1, count);
            const int64_t index = first + static_cast<int64_t>(i);
            if (j - 1 > i) sink.values(index, x + i, j - 1 - i);
            first_ = first + static_cast<int64_t>(j - 1);
            value_ = x[j - 1];
            length_ = 1;
            i = j;
        }
        return missing;
    }

    // Releases the samples held: what follows is a gap.
    template <class Sink>
    void flush(Sink &sink)
    {
        if (length_ > 0 && length_ < shortest_) sink.repeated(first_, value_, static_cast<size_t>(length_));
        length_ = 0;
    }

    // The first sample held, or INT64_MAX.
    int64_t held_from() const
    {
        return length_ > 0 && length_ < shortest_ ? first_ : std::numeric_limits<int64_t>::max();
    }
    // The index after the last sample taken (held, released or flat), or
    // INT64_MIN / 2 when no run is under way.
    int64_t run_end() const { return length_ > 0 ? first_ + length_ : std::numeric_limits<int64_t>::min() / 2; }

private:
    // Samples that continue the run; returns those found flat by them.
    uint64_t grow_run(int64_t more)
    {
        const int64_t before = length_;
        length_ += more;
        if (before >= shortest_) return static_cast<uint64_t>(more);
        return length_ >= shortest_ ? static_cast<uint64_t>(length_) : 0;
    }

    int64_t shortest_;
    int64_t first_ = 0;   // of the run under way
    int64_t length_ = 0;  // 0: none
    double value_ = 0.0;
};

}  // namespace detect

#endif
