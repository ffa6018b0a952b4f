// Multi-scale decomposition of one trace against a wavelet family.
#pragma once

#include <cstdint>

#include "filter/correlation.h"
#include "onset.h"

namespace onset::filter {

// real_1D_wavelet_dec with every scale correlated on the given path (which
// must be available); returns an ONSET_DEC_ code.
std::int32_t decompose(WaveletDecomposition *decomposition, const double *signal,
                       std::uint32_t signal_length, const WaveletFamily *family,
                       CorrelationPath path);

} // namespace onset::filter
