// The moving max-jump of one trace, behind trace_movmxjump and the batch
// driver alike.
#pragma once

#include <cstdint>

namespace onset::jumps {

// trace_movmxjump's contract (onset.h).
void one_trace(double *output, const double *input, std::uint32_t length,
               std::uint32_t window);

} // namespace onset::jumps
