// The blocked suffix and prefix extremes of interior.cpp, four stretches of
// window starts at once, one per lane, all lanes in step so that segment
// boundaries fall on the same step in every lane.
//
// Instead of indices, each side keeps its extreme values, copied from the
// samples themselves (so with their exact bits), and whether its first
// minimum comes no later than its first maximum (a rise). A suffix waits in
// two slots: the slot of its own start and the slot one window further on,
// which belongs to the next segment and is not yet written. The order of the
// two values carries the rise: maximum first for a rise. When maximum and
// minimum compare equal, every sample of the suffix does, both extremes are
// its first sample and the order does not matter.
//
// Every comparison is the plain path's, and the jump is one subtraction of
// the same two samples, so the bits match where no window holds a NaN.
#include "jumps/lanes.h"

#include <limits>

#if defined(__x86_64__)

#include <immintrin.h>

#define ONSET_AVX2 __attribute__((target("avx2")))

namespace onset::jumps {

bool lanes_available()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

namespace {

// Lane l reads and writes its own stretch, `span` samples after lane l - 1.
struct Stretches {
    const double *input;
    double *slots;
    std::size_t span;

    ONSET_AVX2 __m256d load(const double *base, std::size_t offset) const
    {
        return _mm256_set_pd(base[offset + 3 * span], base[offset + 2 * span],
                             base[offset + span], base[offset]);
    }
    ONSET_AVX2 __m256d sample(std::size_t offset) const { return load(input, offset); }
    ONSET_AVX2 __m256d slot(std::size_t offset) const { return load(slots, offset); }
    ONSET_AVX2 void store(std::size_t offset, __m256d values) const
    {
        const __m128d low = _mm256_castpd256_pd128(values);
        const __m128d high = _mm256_extractf128_pd(values, 1);
        _mm_storel_pd(slots + offset, low);
        _mm_storeh_pd(slots + offset + span, low);
        _mm_storel_pd(slots + offset + 2 * span, high);
        _mm_storeh_pd(slots + offset + 3 * span, high);
    }
};

// Extreme values of one side per lane, and an all-ones lane for a rise.
struct Side {
    __m256d max_value;
    __m256d min_value;
    __m256d rise;
};

ONSET_AVX2 inline __m256d select(__m256d condition, __m256d if_true, __m256d if_false)
{
    return _mm256_blendv_pd(if_false, if_true, condition);
}

// Suffixes [a, last] for every start a of the segment, from `last`
// backwards; an equal earlier sample takes the extreme.
ONSET_AVX2 void park_suffixes(const Stretches &lanes, std::size_t window, std::size_t segment,
                              __m256d &probe)
{
    const std::size_t last = segment + window - 1;
    Side s;
    s.max_value = s.min_value = lanes.sample(last);
    s.rise = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    probe = _mm256_add_pd(probe, s.max_value);
    for (std::size_t a = last + 1; a-- > segment;) {
        if (a < last) {
            const __m256d v = lanes.sample(a);
            probe = _mm256_add_pd(probe, v);
            const __m256d takes_max = _mm256_cmp_pd(v, s.max_value, _CMP_GE_OQ);
            const __m256d takes_min = _mm256_cmp_pd(v, s.min_value, _CMP_LE_OQ);
            // A new first minimum is a rise; a new first maximum alone a drop.
            s.rise = _mm256_or_pd(takes_min, _mm256_andnot_pd(takes_max, s.rise));
            s.max_value = select(takes_max, v, s.max_value);
            s.min_value = select(takes_min, v, s.min_value);
        }
        lanes.store(a, select(s.rise, s.max_value, s.min_value));
        lanes.store(a + window, select(s.rise, s.min_value, s.max_value));
    }
}

// The jump of the window starting at a: its parked suffix joined to the
// prefix `p` (-inf and +inf while empty).
ONSET_AVX2 inline void join(const Stretches &lanes, std::size_t window, std::size_t a,
                            const Side &p)
{
    const __m256d first = lanes.slot(a);
    const __m256d second = lanes.slot(a + window);
    const __m256d suffix_rise = _mm256_cmp_pd(first, second, _CMP_GE_OQ);
    const __m256d suffix_max = select(suffix_rise, first, second);
    const __m256d suffix_min = select(suffix_rise, second, first);
    // The suffix is earlier: the prefix wins only when strictly beyond.
    const __m256d prefix_max = _mm256_cmp_pd(p.max_value, suffix_max, _CMP_GT_OQ);
    const __m256d prefix_min = _mm256_cmp_pd(p.min_value, suffix_min, _CMP_LT_OQ);
    const __m256d max_value = select(prefix_max, p.max_value, suffix_max);
    const __m256d min_value = select(prefix_min, p.min_value, suffix_min);
    // Both extremes on one side: that side's order; otherwise the prefix's
    // extreme is the later one.
    const __m256d rise = select(prefix_min, _mm256_and_pd(prefix_max, p.rise),
                                _mm256_or_pd(prefix_max, suffix_rise));
    __m256d jump = select(rise, _mm256_sub_pd(max_value, min_value),
                          _mm256_sub_pd(min_value, max_value));
    // The one quiet NaN of signed_jump, for equal infinities.
    jump = select(_mm256_cmp_pd(jump, jump, _CMP_UNORD_Q),
                  _mm256_set1_pd(std::numeric_limits<double>::quiet_NaN()), jump);
    lanes.store(a, jump);
}

// Prefixes [segment + window, a + window - 1], growing forwards; only a
// value strictly beyond takes the extreme.
ONSET_AVX2 void join_prefixes(const Stretches &lanes, std::size_t window, std::size_t segment,
                              __m256d &probe)
{
    const double infinity = std::numeric_limits<double>::infinity();
    Side p{_mm256_set1_pd(-infinity), _mm256_set1_pd(infinity),
           _mm256_castsi256_pd(_mm256_set1_epi64x(-1))};
    join(lanes, window, segment, p);
    for (std::size_t a = segment + 1; a < segment + window; ++a) {
        const __m256d v = lanes.sample(a + window - 1);
        probe = _mm256_add_pd(probe, v);
        const __m256d takes_max = _mm256_cmp_pd(v, p.max_value, _CMP_GT_OQ);
        const __m256d takes_min = _mm256_cmp_pd(v, p.min_value, _CMP_LT_OQ);
        // A new last maximum is a rise; a new last minimum alone a drop.
        p.rise = _mm256_or_pd(takes_max, _mm256_andnot_pd(takes_min, p.rise));
        p.max_value = _mm256_max_pd(v, p.max_value); // v > max ? v : max
        p.min_value = _mm256_min_pd(v, p.min_value);
        join(lanes, window, a, p);
    }
}

} // namespace

ONSET_AVX2 double write_lanes_avx2(double *slots, const double *input, std::size_t window,
                                   std::size_t first, std::size_t span, std::size_t segments)
{
    const Stretches lanes{input + first, slots + first, span};
    __m256d probe = _mm256_setzero_pd();
    for (std::size_t segment = 0; segment < segments * window; segment += window) {
        park_suffixes(lanes, window, segment, probe);
        join_prefixes(lanes, window, segment, probe);
    }
    alignas(32) double sums[4];
    _mm256_store_pd(sums, probe);
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

} // namespace onset::jumps

#else

namespace onset::jumps {

bool lanes_available()
{
    return false;
}

double write_lanes_avx2(double *, const double *, std::size_t, std::size_t, std::size_t,
                        std::size_t)
{
    return 0;
}

} // namespace onset::jumps

#endif
