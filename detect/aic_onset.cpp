// AIC of every split from running sums, in one pass each way.
#include "aic_onset.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace detect {

namespace {

// A component's running sums, centred first, so that the sums do not lose
// the spread of a small signal riding on a large offset.
struct RunningSums {
    std::vector<double> sum, squares;
};

RunningSums running_sums(const double *x, size_t n)
{
    double mean = 0.0;
    for (size_t i = 0; i < n; ++i) mean += x[i];
    mean /= static_cast<double>(n);
    RunningSums sums{std::vector<double>(n + 1, 0.0), std::vector<double>(n + 1, 0.0)};
    for (size_t i = 0; i < n; ++i) {
        const double v = x[i] - mean;
        sums.sum[i + 1] = sums.sum[i] + v;
        sums.squares[i + 1] = sums.squares[i] + v * v;
    }
    return sums;
}

// ln of the variances of a part [from, to), summed over the components; a
// part without spread gets the least variance a double holds.
double log_variance(const std::vector<RunningSums> &components, size_t from, size_t to)
{
    const double count = static_cast<double>(to - from);
    double variance = 0.0;
    for (const RunningSums &c : components) {
        const double mean = (c.sum[to] - c.sum[from]) / count;
        variance += (c.squares[to] - c.squares[from]) / count - mean * mean;
    }
    return std::log(std::max(variance, std::numeric_limits<double>::min()));
}

}  // namespace

AicOnset aic_onset(const double *x, size_t n, size_t least_part) { return aic_onset(&x, 1, n, least_part); }

AicOnset aic_onset(const double *const *components, size_t count, size_t n, size_t least_part)
{
    if (least_part < 1 || n < 2 * least_part + 1) return {n / 2, n / 2};
    std::vector<RunningSums> sums;
    for (size_t c = 0; c < count; ++c) sums.push_back(running_sums(components[c], n));
    std::vector<double> aic(n + 1, std::numeric_limits<double>::infinity());
    size_t best = least_part;
    for (size_t k = least_part; k + least_part <= n; ++k) {
        const double left = static_cast<double>(k), right = static_cast<double>(n - k);
        aic[k] = left * log_variance(sums, 0, k) + right * log_variance(sums, k, n);
        if (aic[k] < aic[best]) best = k;
    }
    // Within a tenth of the depth of the minimum below the median split, or
    // within 2 (a likelihood ratio of e) where the minimum is shallow.
    std::vector<double> valid(aic.begin() + static_cast<std::ptrdiff_t>(least_part),
                              aic.begin() + static_cast<std::ptrdiff_t>(n - least_part + 1));
    std::nth_element(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(valid.size() / 2), valid.end());
    const double slack = std::max(2.0, 0.1 * (valid[valid.size() / 2] - aic[best]));
    size_t low = best, high = best;
    while (low > least_part && aic[low - 1] <= aic[best] + slack) --low;
    while (high + least_part < n && aic[high + 1] <= aic[best] + slack) ++high;
    return {best, std::max(best - low, high - best)};
}

namespace {

// The mean square of the components from `split` to n over that before it.
double split_contrast(const double *const *components, size_t count, size_t n, size_t split)
{
    if (split == 0 || split >= n) return 0.0;
    double before = 0.0, after = 0.0;
    for (size_t c = 0; c < count; ++c) {
        for (size_t i = 0; i < split; ++i) before += components[c][i] * components[c][i];
        for (size_t i = split; i < n; ++i) after += components[c][i] * components[c][i];
    }
    return (after / static_cast<double>(n - split)) / (before / static_cast<double>(split));
}

}  // namespace

SOnset s_onset(const double *const *components, size_t count, size_t n, size_t least_part, double contrast)
{
    size_t largest = 0;
    double most = -1.0;
    for (size_t i = 0; i < n; ++i) {
        double energy = 0.0;
        for (size_t c = 0; c < count; ++c) energy += components[c][i] * components[c][i];
        if (energy > most) most = energy, largest = i;
    }
    const size_t length = largest + 1;
    if (n == 0 || length < 2 * least_part + 1) return {false, {0, 0}, length};
    const AicOnset onset = aic_onset(components, count, length, least_part);
    return {split_contrast(components, count, length, onset.index) >= contrast, onset, length};
}

}  // namespace detect
