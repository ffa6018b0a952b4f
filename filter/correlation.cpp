// Circular decimated correlation: the choice of path, the plain stretch
// kernel, and the walk round the circle that hands runs to the kernels.
#include "filter/correlation.h"

#include "onset.h"
#include "simd/lanes.h"

namespace onset::filter {

namespace {

simd::Isa isa_of(CorrelationPath path)
{
    switch (path) {
    case CorrelationPath::sse2:
        return simd::Isa::sse2;
    case CorrelationPath::avx2:
        return simd::Isa::avx2;
    case CorrelationPath::plain:
        break;
    }
    return simd::Isa::plain;
}

} // namespace

bool path_available(CorrelationPath path)
{
    return simd::runs(isa_of(path));
}

// AVX-512 lanes are no faster here: eight products per vector, but the same
// multipliers and adders, and every unaligned 64-byte load crosses a cache
// line (the full-rate bank of bench_filter: 67 to 69 ms, against 56 to 62 in
// AVX2).
CorrelationPath fastest_path()
{
    if (path_available(CorrelationPath::avx2))
        return CorrelationPath::avx2;
    if (path_available(CorrelationPath::sse2))
        return CorrelationPath::sse2;
    return CorrelationPath::plain;
}

void stretches_plain(double *output, const double *a, const double *b, std::uint64_t m,
                     std::uint64_t step, std::uint64_t count)
{
    for (std::uint64_t j = 0; j < count; ++j)
        output[j] = add_paired_products(0.0, a + j * step, b, m);
}

namespace {

StretchKernel kernel_of(CorrelationPath path)
{
    switch (path) {
    case CorrelationPath::sse2:
        return stretches_sse2;
    case CorrelationPath::avx2:
        return stretches_avx2;
    case CorrelationPath::plain:
        break;
    }
    return stretches_plain;
}

// a: the circular operand (n samples), b: the sliding one (m <= n samples).
// `start` is where output 0 begins in a. Positions and counts are 64-bit,
// so nothing wraps even for operands of 2^32 - 1 samples.
void correlate_circular(double *output, const double *a, std::uint64_t n, const double *b,
                        std::uint64_t m, std::uint64_t start, std::uint64_t step,
                        StretchKernel stretches)
{
    const std::uint64_t outputs = (n - 1) / step + 1;
    const std::uint64_t step_in_circle = step % n;
    std::uint64_t j = 0;
    std::uint64_t p = start;
    while (j < outputs) {
        if (p + m <= n) {
            // A run of outputs that all lie inside a: the kernel's job.
            std::uint64_t run = (n - m - p) / step + 1;
            if (run > outputs - j)
                run = outputs - j;
            stretches(output + j, a + p, b, m, step, run);
            j += run;
            p = (p + run * step) % n;
        } else {
            // The stretch wraps: the front of b against the end of a, then the
            // rest of b against the start of a, paired afresh.
            const std::uint64_t first_run = n - p;
            const double o = add_paired_products(0.0, a + p, b, first_run);
            output[j] = add_paired_products(o, a, b + first_run, m - first_run);
            ++j;
            p += step_in_circle;
            if (p >= n)
                p -= n;
        }
    }
}

} // namespace

void correlate(double *output, const double *signal, std::uint32_t signal_length,
               const double *filter, std::uint32_t filter_length, std::int32_t center,
               std::uint32_t step, CorrelationPath path)
{
    // The longer operand is read circularly; equal lengths keep the signal
    // circular. center and step stay with the positions, not the operands.
    const bool swap = signal_length < filter_length;
    const double *a = swap ? filter : signal;
    const double *b = swap ? signal : filter;
    const std::uint64_t n = swap ? filter_length : signal_length;
    const std::uint64_t m = swap ? signal_length : filter_length;
    // A step of 0 would never leave position 0.
    if (n == 0 || step == 0)
        return;
    // Reducing the centre first makes every centre mean "b[center] lies over
    // a[k]" modulo n; centres 0 .. n are unaffected.
    std::int64_t c = static_cast<std::int64_t>(center) % static_cast<std::int64_t>(n);
    if (c < 0)
        c += static_cast<std::int64_t>(n);
    const std::uint64_t start = c == 0 ? 0 : n - static_cast<std::uint64_t>(c);
    correlate_circular(output, a, n, b, m, start, step, kernel_of(path));
}

} // namespace onset::filter

extern "C" ONSET_API void cdotx_dd(double *output, const double *signal,
                                   uint32_t signal_length, const double *filter,
                                   uint32_t filter_length, int32_t center, uint32_t step)
{
    using namespace onset::filter;
    correlate(output, signal, signal_length, filter, filter_length, center, step,
              fastest_path());
}
