// Fuzz target for trace_movkurtosis and movkurtosis.
//
// Accuracy inputs: small integer samples (their window moments are exact in
// 128-bit integers) with a few NaN or infinite samples; every output whose
// window holds no non-finite sample and has spread must match the exact
// kurtosis closely, also after a non-finite sample has left the window.
// Robustness inputs: any samples and any window width; every output must be
// written and be NaN where its window holds a non-finite sample. In both,
// the batch driver must agree bit for bit with per-trace calls.
#include "batch_check.h"
#include "fuzz_support.h"
#include "onset.h"

#include <algorithm>
#include <vector>

namespace {

using namespace onset_fuzz;
// A GNU extension; __extension__ keeps -Wpedantic quiet about it.
__extension__ typedef __int128 wide;

// Exact window moments of integer samples from prefix sums of powers (kept
// only when `integers` says the finite samples are small integers), and the
// places of the non-finite samples.
class IntegerMoments {
public:
    ONSET_TEST_UNTRACED IntegerMoments(const double *x, std::size_t n, bool integers)
        : sums_(n + 1), bad_(n + 1, 0)
    {
        for (std::size_t k = 0; k < n; ++k) {
            Powers next = sums_[k];
            bad_[k + 1] = bad_[k];
            if (!std::isfinite(x[k])) {
                ++bad_[k + 1];
            } else if (integers) {
                const wide v = static_cast<wide>(x[k]);
                next.p[0] += v;
                next.p[1] += v * v;
                next.p[2] += v * v * v;
                next.p[3] += v * v * v * v;
            }
            sums_[k + 1] = next;
        }
    }

    ONSET_TEST_UNTRACED bool holds_non_finite(std::size_t lo, std::size_t hi) const
    {
        return bad_[hi + 1] != bad_[lo];
    }

    // m4 / m2^2 = sum((N x - s)^4) / (N * (N sum(x^2) - s^2)^2), with s the
    // window's sum; NaN for a window without spread.
    ONSET_TEST_UNTRACED long double kurtosis(std::size_t lo, std::size_t hi) const
    {
        const wide count = static_cast<wide>(hi - lo + 1);
        wide p[4];
        for (int j = 0; j < 4; ++j)
            p[j] = sums_[hi + 1].p[j] - sums_[lo].p[j];
        const wide s = p[0];
        const wide d2 = count * p[1] - s * s;
        const wide d4 = count * count * count * count * p[3] -
                        4 * count * count * count * s * p[2] +
                        6 * count * count * s * s * p[1] -
                        3 * count * s * s * s * s;
        if (d2 == 0)
            return std::numeric_limits<long double>::quiet_NaN();
        const long double d2f = static_cast<long double>(d2);
        return static_cast<long double>(d4) /
               (static_cast<long double>(count) * d2f * d2f);
    }

private:
    struct Powers {
        wide p[4] = {0, 0, 0, 0};
    };
    std::vector<Powers> sums_;
    std::vector<std::uint32_t> bad_;
};

struct Window {
    std::size_t lo, hi;
};

// Output i covers input[i + h - w + 1 .. i + h], h = w / 2, clipped.
ONSET_TEST_UNTRACED Window window_of(std::size_t i, std::uint32_t w, std::size_t n)
{
    const std::int64_t h = w >> 1;
    const std::int64_t lo = static_cast<std::int64_t>(i) + h - w + 1;
    const std::int64_t hi = static_cast<std::int64_t>(i) + h;
    return {static_cast<std::size_t>(std::max<std::int64_t>(lo, 0)),
            static_cast<std::size_t>(std::min<std::int64_t>(hi, n - 1))};
}

ONSET_TEST_UNTRACED void check_trace(const Exact<double> &input, std::uint32_t w, bool accurate)
{
    const std::size_t n = input.size();
    Exact<double> output(n, unwritten());
    trace_movkurtosis(output.get(), input.get(), static_cast<std::uint32_t>(n), w);

    const IntegerMoments moments(input.get(), n, accurate);
    for (std::size_t i = 0; i < n; ++i) {
        const double got = output[i];
        if (is_unwritten(got))
            fail("n=%zu w=%u: output %zu not written", n, w, i);
        if (w == 0) {
            if (!std::isnan(got))
                fail("n=%zu w=0: output %zu is %.17g, not NaN", n, i, got);
            continue;
        }
        const Window win = window_of(i, w, n);
        if (moments.holds_non_finite(win.lo, win.hi)) {
            if (!std::isnan(got))
                fail("n=%zu w=%u: output %zu is %.17g, its window [%zu, %zu] "
                     "holds a non-finite sample", n, w, i, got, win.lo, win.hi);
            continue;
        }
        if (!accurate)
            continue;
        const long double want = moments.kurtosis(win.lo, win.hi);
        if (std::isnan(want))
            continue; // no spread: NaN or a quotient of rounding residues
        if (!(std::fabs(static_cast<long double>(got) - want) <= 1e-5L * want))
            fail("n=%zu w=%u: output %zu is %.17g, kurtosis of [%zu, %zu] is %.17Lg",
                 n, w, i, got, win.lo, win.hi, want);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool accurate = in.ConsumeBool();
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, accurate ? 1000 : 1500);
    const std::uint32_t w = window_width(in, static_cast<std::uint32_t>(n));
    const int range = in.ConsumeIntegralInRange<int>(1, 4);
    const int non_finite_odds = in.ConsumeIntegralInRange<int>(0, 64);

    Exact<double> input(n);
    for (std::size_t k = 0; k < n; ++k) {
        if (accurate) {
            // A rare NaN or infinity among small integers.
            static const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity()};
            input[k] = non_finite_odds > 0 && in.ConsumeIntegralInRange<int>(0, non_finite_odds) == 0
                           ? in.PickValueInArray(bad)
                           : sample(in, Palette::small_integers, range);
        } else {
            input[k] = sample(in, Palette::extreme, range);
        }
    }
    check_trace(input, w, accurate);
    check_batch(in, input, 5, {trace_movkurtosis, movkurtosis, "trace_movkurtosis", "movkurtosis"});
    return 0;
}
