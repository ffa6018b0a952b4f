// The moving kurtosis of one trace, behind trace_movkurtosis and the batch
// driver alike.
#pragma once

#include <cstdint>

namespace onset::kurtosis {

// trace_movkurtosis's contract (onset.h).
void one_trace(double *output, const double *input, std::uint32_t length,
               std::uint32_t window);

} // namespace onset::kurtosis
