// The host builds WaveletFamily and WaveletDecomposition itself, so their
// field offsets and widths are part of the binary interface: pin them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "onset.h"

static_assert(sizeof(void *) == 8, "the records assume 64-bit pointers");

static_assert(offsetof(WaveletFamily, wavelets) == 0, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, scales) == 8, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, lengths) == 16, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, centers) == 24, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, steps) == 32, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, wavelet_constant) == 40, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, wavelet_parameter) == 48, "WaveletFamily layout");
static_assert(offsetof(WaveletFamily, count) == 56, "WaveletFamily layout");
static_assert(std::is_same_v<decltype(WaveletFamily::wavelets), double **> &&
                  std::is_same_v<decltype(WaveletFamily::scales), double *> &&
                  std::is_same_v<decltype(WaveletFamily::lengths), std::uint32_t *> &&
                  std::is_same_v<decltype(WaveletFamily::centers), std::int32_t *> &&
                  std::is_same_v<decltype(WaveletFamily::steps), std::uint32_t *> &&
                  std::is_same_v<decltype(WaveletFamily::wavelet_constant), double> &&
                  std::is_same_v<decltype(WaveletFamily::wavelet_parameter), double> &&
                  std::is_same_v<decltype(WaveletFamily::count), std::uint32_t>,
              "WaveletFamily field types");
static_assert(sizeof(WaveletFamily) == 64, "WaveletFamily size");

static_assert(offsetof(WaveletDecomposition, coefficients) == 0, "WaveletDecomposition layout");
static_assert(offsetof(WaveletDecomposition, lengths) == 8, "WaveletDecomposition layout");
static_assert(offsetof(WaveletDecomposition, count) == 16, "WaveletDecomposition layout");
static_assert(std::is_same_v<decltype(WaveletDecomposition::coefficients), double **> &&
                  std::is_same_v<decltype(WaveletDecomposition::lengths), std::uint32_t *> &&
                  std::is_same_v<decltype(WaveletDecomposition::count), std::uint32_t>,
              "WaveletDecomposition field types");
static_assert(sizeof(WaveletDecomposition) == 24, "WaveletDecomposition size");
