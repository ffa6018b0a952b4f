// Runs of identical samples, which no working sensor records: a dead
// channel, or a gap that the recorder filled with a constant.
#ifndef ONSET_DETECT_FLAT_LINES_H
#define ONSET_DETECT_FLAT_LINES_H

#include <cstdint>
#include <limits>

namespace detect {

// Holds each run of identical consecutive samples until it either ends,
// and is released, or reaches `shortest` samples, and is dropped with the
// rest of the run: those samples are gaps. Since the held samples are all
// one value, the run is kept as its value, first index and length.
class FlatLines {
public:
    explicit FlatLines(int64_t shortest) : shortest_(shortest) {}

    // Takes the finite sample at `index`; hands every released sample to
    // release(index, value), in order. Returns the number of samples found
    // flat by this call.
    template <class Release>
    int64_t take(int64_t index, double value, Release release)
    {
        if (length_ > 0 && index == first_ + length_ && value == value_) {
            ++length_;
            if (length_ > shortest_) return 1;
            return length_ == shortest_ ? shortest_ : 0;
        }
        flush(release);
        first_ = index;
        value_ = value;
        length_ = 1;
        return 0;
    }

    // Releases the held samples: what follows is a gap.
    template <class Release>
    void flush(Release release)
    {
        if (length_ < shortest_)
            for (int64_t i = 0; i < length_; ++i) release(first_ + i, value_);
        length_ = 0;
    }

    // The first sample held, or INT64_MAX.
    int64_t held_from() const
    {
        return length_ > 0 && length_ < shortest_ ? first_ : std::numeric_limits<int64_t>::max();
    }
    // The index of the last sample taken (held, released or flat).
    int64_t last() const { return length_ > 0 ? first_ + length_ - 1 : std::numeric_limits<int64_t>::min() / 2; }

private:
    int64_t shortest_;
    int64_t first_ = 0;   // of the run under way
    int64_t length_ = 0;  // 0: none
    double value_ = 0.0;
};

}  // namespace detect

#endif
