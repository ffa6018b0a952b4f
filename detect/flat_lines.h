// Runs of identical samples, which no working sensor records: a dead
// channel, or a gap that the recorder filled with a constant.
#ifndef ONSET_DETECT_FLAT_LINES_H
#define ONSET_DETECT_FLAT_LINES_H

#include <cstdint>
#include <limits>
#include <vector>

namespace detect {

// Holds each run of identical consecutive samples until it either ends,
// and is released, or reaches `shortest` samples, and is dropped with the
// rest of the run: those samples are gaps.
class FlatLines {
public:
    explicit FlatLines(int64_t shortest) : shortest_(shortest) {}

    // Takes the finite sample at `index`; hands every released sample to
    // release(index, value), in order. Returns the number of samples found
    // flat by this call.
    template <class Release>
    int64_t take(int64_t index, double value, Release release)
    {
        if (index == last_ + 1 && value == value_ && (flat_ || !held_.empty())) {
            last_ = index;
            if (flat_) return 1;
            held_.push_back(value);
            if (static_cast<int64_t>(held_.size()) < shortest_) return 0;
            flat_ = true;
            const auto dropped = static_cast<int64_t>(held_.size());
            held_.clear();
            return dropped;
        }
        flush(release);
        held_.assign(1, value);
        first_ = last_ = index;
        value_ = value;
        return 0;
    }

    // Releases the held samples: what follows is a gap.
    template <class Release>
    void flush(Release release)
    {
        for (size_t i = 0; i < held_.size(); ++i) release(first_ + static_cast<int64_t>(i), held_[i]);
        held_.clear();
        flat_ = false;
        last_ = std::numeric_limits<int64_t>::min() / 2;
    }

    // The first sample held, or INT64_MAX.
    int64_t held_from() const { return held_.empty() ? std::numeric_limits<int64_t>::max() : first_; }
    // The index of the last sample taken (held, released or flat).
    int64_t last() const { return last_; }

private:
    int64_t shortest_;
    std::vector<double> held_;
    int64_t first_ = 0;
    int64_t last_ = std::numeric_limits<int64_t>::min() / 2;
    double value_ = 0.0;
    bool flat_ = false;
};

}  // namespace detect

#endif
