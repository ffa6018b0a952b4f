// The paths of the moving kurtosis through vector lanes, one per instruction
// set, and the choice among them. Private to kurtosis/.
#pragma once

#include "onset.h"
#include "simd/lanes.h"

#include <cstdint>

namespace onset::kurtosis {

class MovingKurtosis;

// Traces first .. end - 1 of the batch on the given path: the plain one calls
// trace_movkurtosis for each in turn, the others carry several at once in
// vector lanes. Every path gives the same bits.
void movkurtosis_block(const TraceBatch &batch, std::uint32_t first, std::uint32_t end,
                       simd::Isa path);

// The path movkurtosis takes on this CPU.
simd::Isa fastest_block_isa();

#if defined(__x86_64__)
// One file per instruction set; see traces_in_lanes.h, sliding_blocks.h and
// central_sums_lanes.h.
void traces_in_lanes_sse2(const TraceBatch &batch, std::uint32_t first, std::uint32_t end);
void traces_in_lanes_avx2(const TraceBatch &batch, std::uint32_t first, std::uint32_t end);
void traces_in_lanes_avx512(const TraceBatch &batch, std::uint32_t first, std::uint32_t end);
void slide_in_blocks_sse2(MovingKurtosis &trace, std::uint32_t first_step);
void slide_in_blocks_avx2(MovingKurtosis &trace, std::uint32_t first_step);
void slide_in_blocks_avx512(MovingKurtosis &trace, std::uint32_t first_step);
void central_sums_ahead_sse2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4);
void central_sums_ahead_avx2(const double *first, std::uint32_t window, std::uint32_t groups,
                             const double *means, double *s2, double *s3, double *s4);
void central_sums_ahead_avx512(const double *first, std::uint32_t window, std::uint32_t groups,
                               const double *means, double *s2, double *s3, double *s4);
#endif

} // namespace onset::kurtosis
