// Mean squares of a run's band-passed samples over fixed blocks, for the
// noise level before an onset.
#ifndef ONSET_DETECT_ENERGY_HISTORY_H
#define ONSET_DETECT_ENERGY_HISTORY_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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
    // The blocks in order: appended at the back, dropped from the front by
    // moving a head, the storage compacted once the dropped part outgrows
    // the rest. A block comes every few samples, where a deque's bookkeeping
    // costs more than the sums.
    class Blocks {
    public:
        bool empty() const { return head_ == items_.size(); }
        size_t size() const { return items_.size() - head_; }
        const Block &front() const { return items_[head_]; }
        Block &back() { return items_.back(); }
        const Block &back() const { return items_.back(); }
        const Block &operator[](size_t i) const { return items_[head_ + i]; }
        void push_back(const Block &block) { items_.push_back(block); }
        void pop_front()
        {
            if (++head_ >= 256 && head_ * 2 >= items_.size()) {
                items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
                head_ = 0;
            }
        }
        void clear()
        {
            items_.clear();
            head_ = 0;
        }

    private:
        std::vector<Block> items_;
        size_t head_ = 0;
    };
    // Places in blocks_ of the blocks lying wholly within [from, to), but
    // for one still filling.
    std::pair<size_t, size_t> whole_blocks(int64_t from, int64_t to) const;

    int64_t block_;
    Blocks blocks_;  // the last one may still be filling
};

}  // namespace detect

#endif
