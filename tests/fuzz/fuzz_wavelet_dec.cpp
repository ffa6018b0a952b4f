// Fuzz target for real_1D_wavelet_dec (and the set-up functions whose float
// to integer conversions take any value): result codes, the count and
// per-scale lengths written or left alone as the codes say, and every
// computed coefficient bit for bit equal to the plain circular correlation,
// for any number of threads. Every array is exactly as long as its count, and
// the family's scales are absent (the decomposition must not read them).
#include "fuzz_support.h"
#include "plain_correlation.h"
#include "onset.h"

#include <vector>

namespace {

using namespace onset_fuzz;

constexpr std::uint32_t untouched_length = 0xdeadbeefu;

struct Scale {
    std::unique_ptr<Exact<double>> wavelet;
    std::unique_ptr<Exact<double>> coefficients;
};

std::uint64_t coefficient_count(std::uint32_t n, std::uint32_t step)
{
    return step == 0 || n == 0 ? 0 : (static_cast<std::uint64_t>(n) - 1) / step + 1;
}

void check_decomposition(FuzzedDataProvider &in)
{
    const int threads = use_threads(in, 4);
    const auto n = in.ConsumeIntegralInRange<std::uint32_t>(0, 400);
    const auto count = in.ConsumeIntegralInRange<std::uint32_t>(0, 6);
    const int nulls = in.ConsumeIntegralInRange<int>(0, 15); // low bits: absent pointers
    const auto palette = static_cast<Palette>(in.ConsumeIntegralInRange<int>(0, 2));

    Exact<double *> wavelet_pointers(count);
    Exact<std::uint32_t> lengths(count), steps(count);
    Exact<std::int32_t> centers(count);
    std::vector<Scale> scales(count);
    bool zero_step = false, too_long = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const int kind = in.ConsumeIntegralInRange<int>(0, 9);
        lengths[i] = kind == 0 ? n + in.ConsumeIntegralInRange<std::uint32_t>(1, 3)
                               : in.ConsumeIntegralInRange<std::uint32_t>(0, n);
        centers[i] = kind == 1 ? in.ConsumeIntegral<std::int32_t>()
                               : static_cast<std::int32_t>(lengths[i] >> 1);
        steps[i] = kind == 2   ? 0
                   : kind == 3 ? in.ConsumeIntegral<std::uint32_t>()
                               : in.ConsumeIntegralInRange<std::uint32_t>(1, n + 2);
        zero_step = zero_step || steps[i] == 0;
        too_long = too_long || lengths[i] > n;
        scales[i].wavelet = std::make_unique<Exact<double>>(lengths[i]);
        for (std::uint32_t t = 0; t < lengths[i]; ++t)
            (*scales[i].wavelet)[t] = sample(in, palette, 9);
        wavelet_pointers[i] = scales[i].wavelet->get();
        scales[i].coefficients =
            std::make_unique<Exact<double>>(coefficient_count(n, steps[i]), unwritten());
    }
    Exact<double> signal(n);
    for (std::uint32_t k = 0; k < n; ++k)
        signal[k] = sample(in, palette, 9);

    WaveletFamily family{wavelet_pointers.get(), nullptr, lengths.get(), centers.get(),
                         steps.get(), 0.0, 0.0, count};
    Exact<double *> coefficient_pointers(count);
    for (std::uint32_t i = 0; i < count; ++i)
        coefficient_pointers[i] = scales[i].coefficients->get();
    Exact<std::uint32_t> counts(count, untouched_length);
    WaveletDecomposition decomposition{coefficient_pointers.get(), counts.get(),
                                       untouched_length};

    const bool no_signal = nulls & 1, no_decomposition = nulls & 2, no_family = nulls & 4;
    const std::int32_t result =
        real_1D_wavelet_dec(no_decomposition ? nullptr : &decomposition,
                            no_signal ? nullptr : signal.get(), n, no_family ? nullptr : &family);

    // Either code fits when a null trace comes with another fault.
    const bool bad_argument = no_decomposition || no_family || zero_step;
    const bool rejected = no_signal || bad_argument;
    if (rejected) {
        const bool fits = (no_signal && result == ONSET_DEC_NO_SIGNAL) ||
                          (bad_argument && result == ONSET_DEC_BAD_ARGUMENT);
        if (!fits)
            fail("n=%u count=%u: result %d, null trace %d, null decomposition %d, "
                 "null family %d, zero step %d", n, count, result, no_signal,
                 no_decomposition, no_family, zero_step);
    } else if (result != (too_long ? ONSET_DEC_WAVELET_TOO_LONG : ONSET_DEC_OK)) {
        fail("n=%u count=%u: result %d, a wavelet longer than the trace: %d", n, count,
             result, too_long);
    }
    if (decomposition.count != (rejected ? untouched_length : count))
        fail("n=%u: decomposition count %u, family count %u, rejected %d", n,
             decomposition.count, count, rejected);

    for (std::uint32_t i = 0; i < count; ++i) {
        const Exact<double> &out = *scales[i].coefficients;
        const bool computed = !rejected && lengths[i] <= n;
        const std::uint32_t want_count =
            computed ? static_cast<std::uint32_t>(coefficient_count(n, steps[i]))
                     : untouched_length;
        if (counts[i] != want_count)
            fail("n=%u threads=%d scale %u (length %u, step %u): count %u, expected %u", n,
                 threads, i, lengths[i], steps[i], counts[i], want_count);
        for (std::size_t j = 0; j < out.size(); ++j) {
            if (!computed) {
                if (!is_unwritten(out[j]))
                    fail("n=%u scale %u: skipped scale's coefficient %zu written", n, i, j);
                continue;
            }
            const double want = plain_output(signal.get(), n, wavelet_pointers[i], lengths[i],
                                             centers[i], j * static_cast<std::uint64_t>(steps[i]));
            if (!same_sample(want, out[j]))
                fail("n=%u threads=%d scale %u (length %u, centre %d, step %u): coefficient "
                     "%zu is %.17g, plain sum %.17g", n, threads, i, lengths[i], centers[i],
                     steps[i], j, out[j], want);
        }
    }
}

// The value x86-64's truncating conversion gives, out-of-range included.
std::int64_t truncated(double x)
{
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0))
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

void check_setup(FuzzedDataProvider &in)
{
    const auto count = in.ConsumeIntegralInRange<std::uint32_t>(0, 8);
    const auto cap = in.ConsumeIntegral<std::uint32_t>();
    Exact<double> scales(count);
    for (std::uint32_t i = 0; i < count; ++i)
        scales[i] = sample(in, Palette::extreme, 100);
    Exact<std::uint32_t> lengths(count);
    const std::uint32_t total = setwaveletlength0(lengths.get(), scales.get(), count, cap);
    std::uint32_t want_total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        double x = scales[i] * 8.0;
        if (std::fabs(x) < 4503599627370496.0)
            x = std::ceil(x);
        const auto length =
            static_cast<std::uint32_t>(2 * static_cast<std::uint64_t>(truncated(x)) + 1);
        want_total += length;
        if (lengths[i] != std::min(length, cap))
            fail("setwaveletlength0: scale %.17g cap %u gives %u, expected %u", scales[i], cap,
                 lengths[i], std::min(length, cap));
    }
    if (total != want_total)
        fail("setwaveletlength0: total %u, expected %u", total, want_total);

    const auto voices = in.ConsumeIntegralInRange<std::uint32_t>(0, 6);
    const auto groups = in.ConsumeIntegralInRange<std::uint32_t>(0, 6);
    const double first_scale = sample(in, Palette::extreme, 100);
    const double base = sample(in, Palette::extreme, 100);
    const double fraction = sample(in, Palette::extreme, 100);
    Exact<std::uint32_t> steps(voices * groups);
    setsampling0(steps.get(), count, 0, voices, groups, first_scale, base, fraction);
    double x = fraction * first_scale;
    for (std::uint32_t g = 0; g < groups; ++g) {
        const auto step = x < 1.0 ? 1u : static_cast<std::uint32_t>(truncated(x));
        for (std::uint32_t v = 0; v < voices; ++v)
            if (steps[g * voices + v] != step)
                fail("setsampling0: group %u (x %.17g) has step %u, expected %u", g, x,
                     steps[g * voices + v], step);
        x = x * base;
    }
    Exact<std::uint32_t> full(count);
    setsampling0(full.get(), count, 1, voices, groups, first_scale, base, fraction);
    for (std::uint32_t i = 0; i < count; ++i)
        if (full[i] != 1)
            fail("setsampling0 at full rate: step %u is %u", i, full[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
        check_setup(in);
    else
        check_decomposition(in);
    return 0;
}
