// Four outputs per 256-bit vector, one per lane, compiled for AVX2 and chosen
// at run time. Each lane forms its pair sums and its running sum in the plain
// path's order, so the bits match it. No FMA: products and sums are rounded
// separately, as everywhere in the library.
#include "filter/correlation.h"

#if defined(__x86_64__)

#include <immintrin.h>

#define ONSET_AVX2 __attribute__((target("avx2")))

namespace onset::filter {
namespace {

constexpr std::uint64_t lanes = 4;
// Independent running sums in flight, enough to hide the addition latency.
constexpr std::uint64_t groups = 4;

// Step 1: lane l of group g starts at a + 4g + l, so one unaligned load
// gives the four lanes' samples for a tap, times the tap broadcast.
template <std::uint64_t Groups>
ONSET_AVX2 inline void contiguous_block(double *output, const double *a, const double *b,
                                        std::uint64_t m)
{
    __m256d sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = _mm256_setzero_pd();
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const __m256d even_tap = _mm256_broadcast_sd(b + i);
        const __m256d odd_tap = _mm256_broadcast_sd(b + i + 1);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row = a + g * lanes + i;
            const __m256d even = _mm256_mul_pd(_mm256_loadu_pd(row), even_tap);
            const __m256d odd = _mm256_mul_pd(_mm256_loadu_pd(row + 1), odd_tap);
            sum[g] = _mm256_add_pd(sum[g], _mm256_add_pd(even, odd));
        }
    }
    if (i < m) {
        const __m256d last_tap = _mm256_broadcast_sd(b + i);
        for (std::uint64_t g = 0; g < Groups; ++g)
            sum[g] = _mm256_add_pd(sum[g],
                                   _mm256_mul_pd(_mm256_loadu_pd(a + g * lanes + i), last_tap));
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        _mm256_storeu_pd(output + g * lanes, sum[g]);
}

// Lanes 0 and 2 in one register, lanes 1 and 3 in the other, each lane's
// pair of samples (at row + lane * step) in one 128-bit half.
ONSET_AVX2 inline void load_pairs(const double *row, std::uint64_t step, __m256d &even,
                                  __m256d &odd)
{
    const __m256d lanes02 = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(row)), _mm_loadu_pd(row + 2 * step), 1);
    const __m256d lanes13 = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(row + step)), _mm_loadu_pd(row + 3 * step), 1);
    even = _mm256_unpacklo_pd(lanes02, lanes13);
    odd = _mm256_unpackhi_pd(lanes02, lanes13);
}

// Any step: every lane loads its own pair of samples; a transpose turns them
// into an even-tap and an odd-tap vector.
template <std::uint64_t Groups>
ONSET_AVX2 inline void strided_block(double *output, const double *a, const double *b,
                                     std::uint64_t m, std::uint64_t step)
{
    __m256d sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = _mm256_setzero_pd();
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const __m256d even_tap = _mm256_broadcast_sd(b + i);
        const __m256d odd_tap = _mm256_broadcast_sd(b + i + 1);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            __m256d even_samples, odd_samples;
            load_pairs(a + g * lanes * step + i, step, even_samples, odd_samples);
            const __m256d even = _mm256_mul_pd(even_samples, even_tap);
            const __m256d odd = _mm256_mul_pd(odd_samples, odd_tap);
            sum[g] = _mm256_add_pd(sum[g], _mm256_add_pd(even, odd));
        }
    }
    if (i < m) {
        const __m256d last_tap = _mm256_broadcast_sd(b + i);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row = a + g * lanes * step + i;
            const __m256d last = _mm256_set_pd(row[3 * step], row[2 * step], row[step], row[0]);
            sum[g] = _mm256_add_pd(sum[g], _mm256_mul_pd(last, last_tap));
        }
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        _mm256_storeu_pd(output + g * lanes, sum[g]);
}

ONSET_AVX2 void stretches(double *output, const double *a, const double *b, std::uint64_t m,
                          std::uint64_t step, std::uint64_t count)
{
    std::uint64_t j = 0;
    if (step == 1) {
        for (; j + groups * lanes <= count; j += groups * lanes)
            contiguous_block<groups>(output + j, a + j, b, m);
        for (; j + lanes <= count; j += lanes)
            contiguous_block<1>(output + j, a + j, b, m);
    } else {
        for (; j + groups * lanes <= count; j += groups * lanes)
            strided_block<groups>(output + j, a + j * step, b, m, step);
        for (; j + lanes <= count; j += lanes)
            strided_block<1>(output + j, a + j * step, b, m, step);
    }
    stretches_plain(output + j, a + j * step, b, m, step, count - j);
}

} // namespace

// Undecorated, so that the declaration in the header names this very function
// (a differently targeted redeclaration would make a second version of it).
void stretches_avx2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches(output, a, b, m, step, count);
}

} // namespace onset::filter

#else

namespace onset::filter {

// Never selected off x86-64 (path_available says no); kept for the linker.
void stretches_avx2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_plain(output, a, b, m, step, count);
}

} // namespace onset::filter

#endif
