// Mean squares of a run's band-passed samples over fixed blocks, for the
// noise level before an onset.
#ifndef ONSET_DETECT_ENERGY_HISTORY_H
#define ONSET_DETECT_ENERGY_HISTORY_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace detect {

// Blocks start at multiples of `block` samples counted from 1970, so that
// every sum is the same however the samples were cut into calls.
class EnergyHistory {
public:
    explicit EnergyHistory(int64_t block) : block_(block) {}

    void reset() { blocks_.clear(); }
    // Takes samples at consecutive indices, following the last ones taken.
    void add(int64_t first, const double *x, size_t count);
    // The mean square over the blocks lying wholly within [from, to), or -1
    // when they hold fewer than `least` samples.
    double mean_square(int64_t from, int64_t to, int64_t least) const;
    // The q-quantile (0..1) of the blocks' own mean squares over the blocks
    // lying wholly within [from, to), or -1 when they hold fewer than
    // `least` samples: a noise level that a passing burst does not raise.
    double quantile(int64_t from, int64_t to, double q, int64_t least) const;
    // The first block starting at or after `index`, and its mean square
    // (-1 when it has not come yet or is not whole).
    int64_t block_at_or_after(int64_t index) const;
    double block_mean(int64_t number) const;
    int64_t block_length() const { return block_; }
    // Forgets the blocks that end before `index`.
    void drop_before(int64_t index);

private:
    struct Block {
        int64_t number;
        double squares;
        int64_t count;
    };
    // Places in blocks_ of the blocks lying wholly within [from, to), but
    // for one still filling.
    std::pair<size_t, size_t> whole_blocks(int64_t from, int64_t to) const;

    int64_t block_;
    std::deque<Block> blocks_;  // the last one may still be filling
};

}  // namespace detect

#endif
