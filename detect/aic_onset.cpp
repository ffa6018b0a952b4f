// AIC of every split from running sums, in one pass each way.
#include "aic_onset.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace detect {

namespace {

// ln of the variance of a part from its sum and sum of squares; a part
// without spread gets the least variance a double holds.
double log_variance(double sum, double squares, double count)
{
    const double mean = sum / count;
    const double variance = squares / count - mean * mean;
    return std::log(std::max(variance, std::numeric_limits<double>::min()));
}

}  // namespace

AicOnset aic_onset(const double *x, size_t n, size_t least_part)
{
    if (least_part < 1 || n < 2 * least_part + 1) return {n / 2, n / 2};
    // The data are centred first, so that the sums do not lose the spread
    // of a small signal riding on a large offset.
    double mean = 0.0;
    for (size_t i = 0; i < n; ++i) mean += x[i];
    mean /= static_cast<double>(n);
    std::vector<double> before_sum(n + 1, 0.0), before_squares(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i) {
        const double v = x[i] - mean;
        before_sum[i + 1] = before_sum[i] + v;
        before_squares[i + 1] = before_squares[i] + v * v;
    }
    std::vector<double> aic(n + 1, std::numeric_limits<double>::infinity());
    size_t best = least_part;
    for (size_t k = least_part; k + least_part <= n; ++k) {
        const double left = static_cast<double>(k), right = static_cast<double>(n - k);
        aic[k] = left * log_variance(before_sum[k], before_squares[k], left) +
                 right * log_variance(before_sum[n] - before_sum[k], before_squares[n] - before_squares[k], right);
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

}  // namespace detect
