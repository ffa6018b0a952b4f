// Block sums of squares, appended in index order.
#include "energy_history.h"

#include <algorithm>
#include <vector>

namespace detect {

namespace {

int64_t floor_divide(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

void EnergyHistory::add(int64_t first, const double *x, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const int64_t number = floor_divide(first + static_cast<int64_t>(i), block_);
        if (blocks_.empty() || blocks_.back().number != number) blocks_.push_back({number, 0.0, 0});
        blocks_.back().squares += x[i] * x[i];
        ++blocks_.back().count;
    }
}

double EnergyHistory::mean_square(int64_t from, int64_t to, int64_t least) const
{
    double squares = 0.0;
    int64_t count = 0;
    for (const Block &b : blocks_) {
        if (b.number * block_ < from) continue;
        if ((b.number + 1) * block_ > to) break;
        squares += b.squares;
        count += b.count;
    }
    return count >= least && count > 0 ? squares / static_cast<double>(count) : -1.0;
}

double EnergyHistory::quantile(int64_t from, int64_t to, double q, int64_t least) const
{
    std::vector<double> means;
    int64_t count = 0;
    for (const Block &b : blocks_) {
        if (b.number * block_ < from) continue;
        if ((b.number + 1) * block_ > to) break;
        means.push_back(b.squares / static_cast<double>(b.count));
        count += b.count;
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
