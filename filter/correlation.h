// Circular decimated correlation: the plain path and the SIMD paths that
// compute several outputs at once, one output per lane, each with the same
// order of operations as the plain path (so the same bits).
#pragma once

#include <cstdint>

namespace onset::filter {

enum class CorrelationPath { plain, sse2, avx2 };

// Whether this CPU (and build) can run the path.
bool path_available(CorrelationPath path);
// The fastest available path; the one cdotx_dd takes.
CorrelationPath fastest_path();

// cdotx_dd on a given path (which must be available).
void correlate(double *output, const double *signal, std::uint32_t signal_length,
               const double *filter, std::uint32_t filter_length, std::int32_t center,
               std::uint32_t step, CorrelationPath path);

// Computes `count` outputs whose stretches do not wrap: output j is the
// paired sum of a[j * step + i] * b[i] over i < m.
using StretchKernel = void (*)(double *output, const double *a, const double *b,
                               std::uint64_t m, std::uint64_t step, std::uint64_t count);

void stretches_plain(double *output, const double *a, const double *b, std::uint64_t m,
                     std::uint64_t step, std::uint64_t count);
void stretches_sse2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count);
void stretches_avx2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count);

// o plus the products a[i] * b[i], i < length, taken in pairs: each pair sum
// is rounded, then added to o; an odd last product is added alone. Every
// SIMD lane repeats exactly this.
inline double add_paired_products(double o, const double *a, const double *b,
                                  std::uint64_t length)
{
    std::uint64_t i = 0;
    for (; i + 1 < length; i += 2) {
        const double pair = a[i] * b[i] + a[i + 1] * b[i + 1];
        o = o + pair;
    }
    if (i < length)
        o = o + a[i] * b[i];
    return o;
}

} // namespace onset::filter
