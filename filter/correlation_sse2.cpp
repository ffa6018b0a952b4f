// Two outputs per 128-bit vector, one per lane. Each lane forms its pair sums
// and its running sum in the plain path's order, so the bits match it.
#include "filter/correlation.h"

#if defined(__x86_64__)

#include <emmintrin.h>

namespace onset::filter {
namespace {

constexpr std::uint64_t lanes = 2;
// Independent running sums in flight, enough to hide the addition latency.
constexpr std::uint64_t groups = 4;

// Step 1: lane l of group g starts at a + 2g + l, so one unaligned load
// gives both lanes' samples for a tap, times the tap broadcast.
template <std::uint64_t Groups>
void contiguous_block(double *output, const double *a, const double *b, std::uint64_t m)
{
    __m128d sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = _mm_setzero_pd();
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const __m128d even_tap = _mm_set1_pd(b[i]);
        const __m128d odd_tap = _mm_set1_pd(b[i + 1]);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row = a + g * lanes + i;
            const __m128d even = _mm_mul_pd(_mm_loadu_pd(row), even_tap);
            const __m128d odd = _mm_mul_pd(_mm_loadu_pd(row + 1), odd_tap);
            sum[g] = _mm_add_pd(sum[g], _mm_add_pd(even, odd));
        }
    }
    if (i < m) {
        const __m128d last_tap = _mm_set1_pd(b[i]);
        for (std::uint64_t g = 0; g < Groups; ++g)
            sum[g] = _mm_add_pd(sum[g], _mm_mul_pd(_mm_loadu_pd(a + g * lanes + i), last_tap));
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        _mm_storeu_pd(output + g * lanes, sum[g]);
}

// Any step: each lane loads its own two samples of a pair and the two loads
// are transposed into an even-tap and an odd-tap vector.
template <std::uint64_t Groups>
void strided_block(double *output, const double *a, const double *b, std::uint64_t m,
                   std::uint64_t step)
{
    __m128d sum[Groups];
    for (std::uint64_t g = 0; g < Groups; ++g)
        sum[g] = _mm_setzero_pd();
    std::uint64_t i = 0;
    for (; i + 1 < m; i += 2) {
        const __m128d even_tap = _mm_set1_pd(b[i]);
        const __m128d odd_tap = _mm_set1_pd(b[i + 1]);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row0 = a + g * lanes * step + i;
            const __m128d pair0 = _mm_loadu_pd(row0);
            const __m128d pair1 = _mm_loadu_pd(row0 + step);
            const __m128d even = _mm_mul_pd(_mm_unpacklo_pd(pair0, pair1), even_tap);
            const __m128d odd = _mm_mul_pd(_mm_unpackhi_pd(pair0, pair1), odd_tap);
            sum[g] = _mm_add_pd(sum[g], _mm_add_pd(even, odd));
        }
    }
    if (i < m) {
        const __m128d last_tap = _mm_set1_pd(b[i]);
        for (std::uint64_t g = 0; g < Groups; ++g) {
            const double *row0 = a + g * lanes * step + i;
            const __m128d last = _mm_set_pd(row0[step], row0[0]);
            sum[g] = _mm_add_pd(sum[g], _mm_mul_pd(last, last_tap));
        }
    }
    for (std::uint64_t g = 0; g < Groups; ++g)
        _mm_storeu_pd(output + g * lanes, sum[g]);
}

} // namespace

void stretches_sse2(double *output, const double *a, const double *b, std::uint64_t m,
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

} // namespace onset::filter

#else

namespace onset::filter {

// Never selected off x86-64 (path_available says no); kept for the linker.
void stretches_sse2(double *output, const double *a, const double *b, std::uint64_t m,
                    std::uint64_t step, std::uint64_t count)
{
    stretches_plain(output, a, b, m, step, count);
}

} // namespace onset::filter

#endif
