// Vector lanes of doubles, for kernels that carry several independent outputs
// side by side: each lane goes through exactly the operations of the plain
// path, in the same order, so it gives the same bits. Also the target
// attributes that compile the lanes and the CPU probe that picks the widest
// ones this machine runs. Private to the library.
//
// A kernel is written once as a template on a lane type and instantiated per
// instruction set. Lane types give loads, stores, comparisons, selections and
// the lanes' own sample positions, each type the operations its kernels use:
// the moving kurtosis runs on SSE2, AVX2 and AVX-512 lanes, the correlation
// on SSE2 and AVX2, the max-jump interior on one lane and AVX2. Arithmetic
// is written with the ordinary operators, which act lane by lane on the
// vector types (no fused multiply-add: the build forbids contraction).
//
// Instantiations for AVX2 and AVX-512 sit between ONSET_BEGIN_TARGET and
// ONSET_END_TARGET in files of their own, after every header they use: an
// inline function first defined inside the region would be compiled for that
// instruction set, and the linker could then pick that copy for the plain
// path too.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Vectors pass between the always-inlined pieces of one kernel only, never
// through a real call, so the calling-convention notes of -Wpsabi about
// vector arguments do not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#define ONSET_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define ONSET_BEGIN_TARGET(isa)                                                              \
    ONSET_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define ONSET_END_TARGET ONSET_PRAGMA(clang attribute pop)
#else
#define ONSET_BEGIN_TARGET(isa) ONSET_PRAGMA(GCC push_options) ONSET_PRAGMA(GCC target(isa))
#define ONSET_END_TARGET ONSET_PRAGMA(GCC pop_options)
#endif
#define ONSET_AVX2_TARGET "avx2"
#define ONSET_AVX512_TARGET "avx512f"

#define ONSET_LANE_OP inline __attribute__((always_inline))

namespace onset::simd {

// The lanes' vectors: the intrinsics' types without their may_alias
// attribute, which would be dropped (with a warning) where a vector is a
// template argument.
typedef double Doubles2 __attribute__((vector_size(16)));
typedef double Doubles4 __attribute__((vector_size(32)));
typedef double Doubles8 __attribute__((vector_size(64)));

// Instruction sets in order of width; each CPU that runs one runs those
// before it.
enum class Isa { plain, sse2, avx2, avx512 };

// The widest instruction set of this CPU, probed on the first call only.
inline Isa widest_isa()
{
    static const Isa widest = [] {
#if defined(__x86_64__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f"))
            return Isa::avx512;
        if (__builtin_cpu_supports("avx2"))
            return Isa::avx2;
        return Isa::sse2; // part of every x86-64 CPU
#else
        return Isa::plain;
#endif
    }();
    return widest;
}

inline bool runs(Isa isa) { return isa <= widest_isa(); }

// One lane: the plain path itself, where a kernel also serves as the plain
// path.
struct PlainLanes {
    using Value = double;
    using Mask = bool;
    static constexpr std::size_t width = 1;

    static ONSET_LANE_OP Value load(const double *p) { return *p; }
    static ONSET_LANE_OP void store(double *p, Value v) { *p = v; }
    static ONSET_LANE_OP Value broadcast(double x) { return x; }
    // p[0], p[stride], ... : one sample per lane.
    static ONSET_LANE_OP Value strided(const double *p, std::size_t) { return *p; }
    static ONSET_LANE_OP void store_strided(double *p, std::size_t, Value v) { *p = v; }
    static ONSET_LANE_OP Mask greater(Value a, Value b) { return a > b; }
    static ONSET_LANE_OP Mask less(Value a, Value b) { return a < b; }
    static ONSET_LANE_OP Mask greater_equal(Value a, Value b) { return a >= b; }
    static ONSET_LANE_OP Mask less_equal(Value a, Value b) { return a <= b; }
    static ONSET_LANE_OP Mask unordered(Value a, Value b) { return a != a || b != b; }
    static ONSET_LANE_OP Mask both(Mask a, Mask b) { return a && b; }
    static ONSET_LANE_OP Mask either(Mask a, Mask b) { return a || b; }
    static ONSET_LANE_OP Mask but_not(Mask a, Mask b) { return a && !b; }
    static ONSET_LANE_OP Mask all_set() { return true; }
    static ONSET_LANE_OP Value select(Mask m, Value a, Value b) { return m ? a : b; }
};

#if defined(__x86_64__)

// Two lanes in SSE2, part of every x86-64 CPU.
struct Sse2Lanes {
    using Value = Doubles2;
    using Mask = Doubles2;
    static constexpr std::size_t width = 2;

    static ONSET_LANE_OP Value load(const double *p) { return _mm_loadu_pd(p); }
    static ONSET_LANE_OP void store(double *p, Value v) { _mm_storeu_pd(p, v); }
    static ONSET_LANE_OP Value broadcast(double x) { return _mm_set1_pd(x); }
    // p[0], p[stride], ...: one sample per lane.
    static ONSET_LANE_OP Value strided(const double *p, std::size_t stride)
    {
        return _mm_set_pd(p[stride], p[0]);
    }
    // Lane l takes p[l * stride] into `even` and p[l * stride + 1] into
    // `odd`.
    static ONSET_LANE_OP void pairs(const double *p, std::size_t stride, Value &even, Value &odd)
    {
        const __m128d lane0 = _mm_loadu_pd(p);
        const __m128d lane1 = _mm_loadu_pd(p + stride);
        even = _mm_unpacklo_pd(lane0, lane1);
        odd = _mm_unpackhi_pd(lane0, lane1);
    }
    // Lane l reads lanes[l][j]: one trace per lane.
    static ONSET_LANE_OP Value gather(const double *const *lanes, std::size_t j)
    {
        return _mm_set_pd(lanes[1][j], lanes[0][j]);
    }
    static ONSET_LANE_OP double lane(Value v, std::size_t l) { return v[l]; }
    static ONSET_LANE_OP void set_lane(Value &v, std::size_t l, double x) { v[l] = x; }

    static ONSET_LANE_OP Mask greater_equal(Value a, Value b) { return _mm_cmpge_pd(a, b); }
    static ONSET_LANE_OP Mask less_equal(Value a, Value b) { return _mm_cmple_pd(a, b); }
    static ONSET_LANE_OP Mask both(Mask a, Mask b) { return _mm_and_pd(a, b); }
    static ONSET_LANE_OP unsigned bits(Mask m)
    {
        return static_cast<unsigned>(_mm_movemask_pd(m));
    }
};

#define ONSET_AVX2_OP inline __attribute__((always_inline, target(ONSET_AVX2_TARGET)))

// Four lanes in AVX2.
struct Avx2Lanes {
    using Value = Doubles4;
    using Mask = Doubles4;
    static constexpr std::size_t width = 4;

    static ONSET_AVX2_OP Value load(const double *p) { return _mm256_loadu_pd(p); }
    static ONSET_AVX2_OP void store(double *p, Value v) { _mm256_storeu_pd(p, v); }
    static ONSET_AVX2_OP Value broadcast(double x) { return _mm256_set1_pd(x); }
    static ONSET_AVX2_OP Value strided(const double *p, std::size_t stride)
    {
        return _mm256_set_pd(p[3 * stride], p[2 * stride], p[stride], p[0]);
    }
    // Lanes 0 and 2 in one register, lanes 1 and 3 in the other, each lane's
    // pair in one 128-bit half; unpacking gives the even and odd samples.
    static ONSET_AVX2_OP void pairs(const double *p, std::size_t stride, Value &even, Value &odd)
    {
        const __m256d lanes02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p)),
                                                     _mm_loadu_pd(p + 2 * stride), 1);
        const __m256d lanes13 = _mm256_insertf128_pd(
            _mm256_castpd128_pd256(_mm_loadu_pd(p + stride)), _mm_loadu_pd(p + 3 * stride), 1);
        even = _mm256_unpacklo_pd(lanes02, lanes13);
        odd = _mm256_unpackhi_pd(lanes02, lanes13);
    }
    static ONSET_AVX2_OP Value gather(const double *const *lanes, std::size_t j)
    {
        return _mm256_set_pd(lanes[3][j], lanes[2][j], lanes[1][j], lanes[0][j]);
    }
    static ONSET_AVX2_OP void store_strided(double *p, std::size_t stride, Value v)
    {
        const __m128d low = _mm256_castpd256_pd128(v);
        const __m128d high = _mm256_extractf128_pd(v, 1);
        _mm_storel_pd(p, low);
        _mm_storeh_pd(p + stride, low);
        _mm_storel_pd(p + 2 * stride, high);
        _mm_storeh_pd(p + 3 * stride, high);
    }
    static ONSET_AVX2_OP double lane(Value v, std::size_t l) { return v[l]; }
    static ONSET_AVX2_OP void set_lane(Value &v, std::size_t l, double x) { v[l] = x; }

    static ONSET_AVX2_OP Mask greater(Value a, Value b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    static ONSET_AVX2_OP Mask less(Value a, Value b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static ONSET_AVX2_OP Mask greater_equal(Value a, Value b)
    {
        return _mm256_cmp_pd(a, b, _CMP_GE_OQ);
    }
    static ONSET_AVX2_OP Mask less_equal(Value a, Value b)
    {
        return _mm256_cmp_pd(a, b, _CMP_LE_OQ);
    }
    static ONSET_AVX2_OP Mask unordered(Value a, Value b)
    {
        return _mm256_cmp_pd(a, b, _CMP_UNORD_Q);
    }
    static ONSET_AVX2_OP Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
    static ONSET_AVX2_OP Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    static ONSET_AVX2_OP Mask but_not(Mask a, Mask b) { return _mm256_andnot_pd(b, a); }
    static ONSET_AVX2_OP Mask all_set() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }
    static ONSET_AVX2_OP Value select(Mask m, Value a, Value b)
    {
        return _mm256_blendv_pd(b, a, m);
    }
    static ONSET_AVX2_OP unsigned bits(Mask m)
    {
        return static_cast<unsigned>(_mm256_movemask_pd(m));
    }
};

#define ONSET_AVX512_OP inline __attribute__((always_inline, target(ONSET_AVX512_TARGET)))

// Eight lanes in AVX-512; comparisons give bit masks.
struct Avx512Lanes {
    using Value = Doubles8;
    using Mask = __mmask8;
    static constexpr std::size_t width = 8;

    static ONSET_AVX512_OP Value load(const double *p) { return _mm512_loadu_pd(p); }
    static ONSET_AVX512_OP void store(double *p, Value v) { _mm512_storeu_pd(p, v); }
    static ONSET_AVX512_OP Value broadcast(double x) { return _mm512_set1_pd(x); }
    static ONSET_AVX512_OP Value gather(const double *const *lanes, std::size_t j)
    {
        return _mm512_set_pd(lanes[7][j], lanes[6][j], lanes[5][j], lanes[4][j], lanes[3][j],
                             lanes[2][j], lanes[1][j], lanes[0][j]);
    }
    static ONSET_AVX512_OP double lane(Value v, std::size_t l) { return v[l]; }
    static ONSET_AVX512_OP void set_lane(Value &v, std::size_t l, double x) { v[l] = x; }

    static ONSET_AVX512_OP Mask greater_equal(Value a, Value b)
    {
        return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ);
    }
    static ONSET_AVX512_OP Mask less_equal(Value a, Value b)
    {
        return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ);
    }
    static ONSET_AVX512_OP Mask both(Mask a, Mask b) { return static_cast<Mask>(a & b); }
    static ONSET_AVX512_OP unsigned bits(Mask m) { return m; }
};

#endif

} // namespace onset::simd
