// Fuzz target for trace_movmxjump and movjumps: every output must equal the
// signed jump of its own window (first-occurrence extremes, the later minus
// the earlier), NaN for a window that holds a NaN or for window 0, whatever
// the number of threads; the batch driver must agree with per-trace calls.
#include "batch_check.h"
#include "fuzz_support.h"
#include "onset.h"

#include <algorithm>
#include <vector>

namespace {

using namespace onset_fuzz;

// First-occurrence arg-extremes of any index range in O(1) from a sparse
// table; ties go to the smaller index.
class RangeExtremes {
public:
    ONSET_TEST_UNTRACED explicit RangeExtremes(const double *x, std::size_t n) : x_(x)
    {
        levels_.push_back(Level(n));
        for (std::size_t k = 0; k < n; ++k)
            levels_[0][k] = {k, k};
        for (std::size_t span = 2; span <= n; span *= 2) {
            const Level &below = levels_.back();
            Level level(n - span + 1);
            for (std::size_t k = 0; k + span <= n; ++k)
                level[k] = merge(below[k], below[k + span / 2]);
            levels_.push_back(std::move(level));
        }
    }

    struct Pair {
        std::size_t imax, imin;
    };

    ONSET_TEST_UNTRACED Pair of(std::size_t lo, std::size_t hi) const
    {
        std::size_t level = 0;
        while ((std::size_t{2} << level) <= hi - lo + 1)
            ++level;
        return merge(levels_[level][lo], levels_[level][hi + 1 - (std::size_t{1} << level)]);
    }

private:
    using Level = std::vector<Pair>;

    ONSET_TEST_UNTRACED Pair merge(Pair a, Pair b) const
    {
        Pair out;
        out.imax = x_[b.imax] > x_[a.imax] || (x_[b.imax] == x_[a.imax] && b.imax < a.imax)
                       ? b.imax : a.imax;
        out.imin = x_[b.imin] < x_[a.imin] || (x_[b.imin] == x_[a.imin] && b.imin < a.imin)
                       ? b.imin : a.imin;
        return out;
    }

    const double *x_;
    std::vector<Level> levels_;
};

ONSET_TEST_UNTRACED void check_trace(const Exact<double> &input, std::uint32_t w, int threads)
{
    const std::size_t n = input.size();
    Exact<double> output(n, unwritten());
    trace_movmxjump(output.get(), input.get(), static_cast<std::uint32_t>(n), w);

    std::vector<std::size_t> nans(n + 1, 0);
    for (std::size_t k = 0; k < n; ++k)
        nans[k + 1] = nans[k] + (std::isnan(input[k]) ? 1 : 0);
    const RangeExtremes extremes(input.get(), n);
    const std::int64_t h = (static_cast<std::int64_t>(w) + 1) >> 1;
    const std::int64_t d = w - h;
    for (std::size_t k = 0; k < n; ++k) {
        double want = std::numeric_limits<double>::quiet_NaN();
        std::size_t lo = 0, hi = 0;
        if (w != 0) {
            lo = static_cast<std::size_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(k) - d));
            hi = static_cast<std::size_t>(
                std::min<std::int64_t>(n - 1, static_cast<std::int64_t>(k) + h - 1));
            if (nans[hi + 1] == nans[lo]) {
                const RangeExtremes::Pair p = extremes.of(lo, hi);
                want = p.imin <= p.imax ? input[p.imax] - input[p.imin]
                                        : input[p.imin] - input[p.imax];
            }
        }
        if (!same_sample(want, output[k]))
            fail("n=%zu w=%u threads=%d: output %zu is %.17g, window [%zu, %zu] gives %.17g",
                 n, w, threads, k, output[k], lo, hi, want);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int threads = use_threads(in, 8);
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 3000);
    const std::uint32_t w = window_width(in, static_cast<std::uint32_t>(n));
    const auto palette = static_cast<Palette>(in.ConsumeIntegralInRange<int>(0, 2));
    const int shape = in.ConsumeIntegralInRange<int>(0, 2);
    const int range = in.ConsumeIntegralInRange<int>(1, 8);

    Exact<double> input(n);
    double level = 0.0;
    for (std::size_t k = 0; k < n;) {
        const double x = sample(in, palette, range);
        switch (shape) {
        case 0: // independent samples
            input[k++] = x;
            break;
        case 1: // a walk: long rising and falling runs, smooth stretches
            level += x;
            input[k++] = level;
            break;
        default: { // constant stretches
            std::size_t run = in.ConsumeIntegralInRange<std::size_t>(1, 64);
            for (; run > 0 && k < n; --run)
                input[k++] = x;
        }
        }
    }
    check_trace(input, w, threads);
    check_batch(in, input, 4, {trace_movmxjump, movjumps, "trace_movmxjump", "movjumps"});
    return 0;
}
