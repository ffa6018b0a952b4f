#include "onset.h"
extern "C" {
ONSET_API void setscales0(double *, uint32_t, uint32_t, double, double) {}
ONSET_API uint32_t setwaveletlength0(uint32_t *, const double *, uint32_t, uint32_t) { return 0; }
ONSET_API void setsampling0(uint32_t *, uint32_t, int32_t, uint32_t, uint32_t, double, double, double) {}
ONSET_API void MexicanHatFun_real(double *, int32_t *, uint32_t, double, double) {}
ONSET_API void FillWaveletFamily(WaveletFamily *) {}
ONSET_API void cdotx_dd(double *, const double *, uint32_t, const double *, uint32_t, int32_t, uint32_t) {}
ONSET_API int32_t real_1D_wavelet_dec(WaveletDecomposition *, const double *, uint32_t, const WaveletFamily *) { return 0; }
}
