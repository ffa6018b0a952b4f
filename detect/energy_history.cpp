// Block sums of squares, appended in index order.
#include "energy_history.h"

#include <algorithm>
#include <vector>

#include "index_math.h"

namespace detect {

void EnergyHistory::add(int64_t first, const double *x, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const int64_t number = floor_divide(first + static_cast<int64_t>(i), block_);
        if (blocks_.empty() || blocks_.back().number != number) blocks_.push_back({number, 0.0, 0});
        blocks_.back().squares += x[i] * x[i];
        ++blocks_.back().count;
    }
}

// Blocks of a run are numbered without holes, so a block's place in the
// deque follows from its number.
std::pair<size_t, size_t> EnergyHistory::whole_blocks(int64_t from, int64_t to) const
{
    if (blocks_.empty()) return {0, 0};
    const int64_t first = blocks_.front().number;
    const int64_t begin = std::max(-floor_divide(-from, block_), first);
    const bool filling = blocks_.back().count < block_;
    const int64_t end = std::min(floor_divide(to, block_),
                                 first + static_cast<int64_t>(blocks_.size()) - (filling ? 1 : 0));
    if (end <= begin) return {0, 0};
    return {static_cast<size_t>(begin - first), static_cast<size_t>(end - first)};
}

double EnergyHistory::mean_square(int64_t from, int64_t to, int64_t least) const
{
    const auto [begin, end] = whole_blocks(from, to);
    double squares = 0.0;
    int64_t count = 0;
    for (size_t b = begin; b < end; ++b) {
        squares += blocks_[b].squares;
        count += blocks_[b].count;
    }
    return count >= least && count > 0 ? squares / static_cast<double>(count) : -1.0;
}

double EnergyHistory::quantile(int64_t from, int64_t to, double q, int64_t least) const
{
    const auto [begin, end] = whole_blocks(from, to);
    std::vector<double> means;
    int64_t count = 0;
    for (size_t b = begin; b < end; ++b) {
        means.push_back(blocks_[b].squares / static_cast<double>(blocks_[b].count));
        count += blocks_[b].count;
    }
    if (count < least || means.empty()) return -1.0;
    const auto at = means.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(means.size() - 1));
    std::nth_element(means.begin(), at, means.end());
    return *at;
}

int64_t EnergyHistory::block_at_or_after(int64_t index) const { return -floor_divide(-index, block_); }

double EnergyHistory::block_mean(int64_t number) const
{
    if (blocks_.empty() || number < blocks_.front().number || number >= blocks_.back().number) return -1.0;
    const Block &b = blocks_[static_cast<size_t>(number - blocks_.front().number)];
    return b.number == number && b.count == block_ ? b.squares / static_cast<double>(b.count) : -1.0;
}

void EnergyHistory::drop_before(int64_t index)
{
    while (!blocks_.empty() && (blocks_.front().number + 1) * block_ <= index) blocks_.pop_front();
}

}  // namespace detect
