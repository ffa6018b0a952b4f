/*
 * onset: characteristic functions, a wavelet filter bank and cross-trace
 * event grouping for seismic event detection.
 *
 * Every buffer belongs to the caller: the library allocates nothing that
 * outlives a call, keeps no state and writes only the arrays it is given.
 * Samples are IEEE-754 doubles; results are reproducible bit for bit, on any
 * number of OpenMP threads. Arguments are not validated unless a contract
 * below says so: keep to the stated sizes and ranges.
 */
#ifndef ONSET_H
#define ONSET_H

#include <stdint.h>

/* The version, written here only: the build, the installed CMake package,
 * pkg-config and the Python package read it from these three lines. */
#define ONSET_VERSION_MAJOR 1
#define ONSET_VERSION_MINOR 0
#define ONSET_VERSION_PATCH 0

/* 10000 * major + 100 * minor + patch, for comparisons in the preprocessor. */
#define ONSET_VERSION_NUMBER \
    (ONSET_VERSION_MAJOR * 10000 + ONSET_VERSION_MINOR * 100 + ONSET_VERSION_PATCH)
#define ONSET_QUOTE_(text) #text
#define ONSET_EXPAND_AND_QUOTE_(text) ONSET_QUOTE_(text)
/* "major.minor.patch" */
#define ONSET_VERSION_STRING \
    ONSET_EXPAND_AND_QUOTE_(ONSET_VERSION_MAJOR.ONSET_VERSION_MINOR.ONSET_VERSION_PATCH)

#if defined(ONSET_BUILDING)
#define ONSET_API __attribute__((visibility("default")))
#else
#define ONSET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------ */

/* A batch of traces for movkurtosis and movjumps. Trace i is read from
 * inputs[i] and written to outputs[i], both lengths[i] samples long, with
 * window width windows[i]. No output array may overlap an input array or
 * another output array of the batch; input arrays may be shared. */
typedef struct TraceBatch {
    const double *const *inputs;
    double *const *outputs;
    const uint32_t *lengths;
    const uint32_t *windows;
    uint32_t count;
} TraceBatch;

/* A Mexican-hat filter bank. The caller allocates the record and every array
 * (count entries each), and one buffer for all wavelets in wavelets[0], of at
 * least the sum of lengths[0 .. count-1] samples (setwaveletlength0 returns a
 * bound). FillWaveletFamily sets wavelets[1 .. count-1], centers and
 * wavelet_constant. */
typedef struct WaveletFamily {
    double **wavelets;        /* count pointers into one buffer */
    double *scales;           /* scale of each wavelet, in samples */
    uint32_t *lengths;        /* samples of each wavelet */
    int32_t *centers;         /* index of each wavelet's centre sample */
    uint32_t *steps;          /* output step (decimation) of each scale */
    double wavelet_constant;  /* 4*sqrt(pi)/3, set by FillWaveletFamily */
    double wavelet_parameter; /* passed to the sampler; the Mexican hat ignores it */
    uint32_t count;           /* number of scales */
} WaveletFamily;

/* The output of real_1D_wavelet_dec. coefficients[i] must hold
 * ceil(n / steps[i]) samples for a trace of n samples; lengths[i] receives
 * that count. */
typedef struct WaveletDecomposition {
    double **coefficients;
    uint32_t *lengths;
    uint32_t count;
} WaveletDecomposition;

/* The host's 64-byte event record. The library reads only `time`, in the
 * unit of the capture tolerances; the other bytes are the host's own. */
typedef struct Pick {
    unsigned char host_head[24];
    double time;
    unsigned char host_tail[32];
} Pick;

/* The output of captures, sized by the caller for G captures, G at most the
 * number of events free on entry: members and traces hold G blocks of count
 * entries, sizes G entries. Slot 0 of block g is the seed, slots
 * 1 .. sizes[g]-1 the members in ascending trace order, the remaining slots a
 * null pointer and trace 0. */
typedef struct CaptureSet {
    const Pick **members;
    int32_t *traces;
    int32_t *sizes;
    int32_t count; /* number of traces, and of slots per block */
} CaptureSet;

/* ------------------------------------------------------------------------
 * Characteristic functions
 *
 * For both per-trace functions: output and input hold `length` samples and
 * must not overlap; every output sample is written once. length 0 writes
 * nothing; windows longer than the trace are clipped to it.
 * ------------------------------------------------------------------------ */

/* Moving kurtosis m4 / m2^2 (population moments, not reduced by 3).
 * Output i covers input[i - h + (1 - w % 2) .. i + h], h = window / 2,
 * clipped to the trace. A window without spread, or an empty one
 * (window 0), gives NaN, and so does a window that holds a NaN or an
 * infinity; once such a sample has left the window the outputs recover.
 * Runs on the calling thread. */
ONSET_API void trace_movkurtosis(double *output, const double *input,
                                 uint32_t length, uint32_t window);

/* trace_movkurtosis on every trace of the batch, the traces split in
 * contiguous blocks over the threads of one OpenMP parallel region. */
ONSET_API void movkurtosis(const TraceBatch *batch);

/* Moving max-jump: for each output k, with window input[k - w/2 ..
 * k + (w+1)/2 - 1] clipped to the trace, the sample at the later of the
 * window's first maximum and first minimum minus the sample at the earlier
 * one (a rise is positive, a drop negative, a flat window 0). Window 0 gives
 * NaN; a window that holds a NaN gives NaN. The interior of the trace is
 * computed in one OpenMP parallel region; the result does not depend on the
 * number of threads. */
ONSET_API void trace_movmxjump(double *output, const double *input,
                               uint32_t length, uint32_t window);

/* trace_movmxjump on every trace of the batch, one trace after another. */
ONSET_API void movjumps(const TraceBatch *batch);

/* ------------------------------------------------------------------------
 * Wavelet filter bank
 * ------------------------------------------------------------------------ */

/* scales[i] = first_scale * r^i with r = pow(base, 1.0 / voices), built by
 * repeated multiplication. Writes count samples. */
ONSET_API void setscales0(double *scales, uint32_t count, uint32_t voices,
                          double first_scale, double base);

/* lengths[i] = min(2 * ceil(8 * scales[i]) + 1, max_length): a wavelet spans
 * 8 scales on each side of its centre. Returns the sum of the uncapped
 * lengths (modulo 2^32), an upper bound for the wavelet buffer in samples.
 * Lengths are formed modulo 2^32 and compared unsigned, so a negative scale
 * stores max_length. A scale whose 8-fold is NaN, infinite or of magnitude
 * 2^63 or more counts as -2^63 before doubling. */
ONSET_API uint32_t setwaveletlength0(uint32_t *lengths, const double *scales,
                                     uint32_t count, uint32_t max_length);

/* Output steps. full_rate != 0: steps[0 .. count-1] = 1. Otherwise
 * voices * groups entries, group-major: with x = fraction * first_scale *
 * base^g (built by repeated multiplication), group g gets 1 if x < 1, else
 * the low 32 bits of x truncated to a 64-bit integer; NaN and magnitudes of
 * 2^63 or more give 0. */
ONSET_API void setsampling0(uint32_t *steps, uint32_t count, int32_t full_rate,
                            uint32_t voices, uint32_t groups,
                            double first_scale, double base, double fraction);

/* Samples a Mexican hat of scale `scale` (unit energy) into `length` samples
 * and stores its centre index length / 2 in *center. `parameter` is
 * ignored. */
ONSET_API void MexicanHatFun_real(double *wavelet, int32_t *center,
                                  uint32_t length, double parameter,
                                  double scale);

/* Chains wavelets[1 .. count-1] into the buffer at wavelets[0], samples
 * every wavelet as MexicanHatFun_real does and sets wavelet_constant. */
ONSET_API void FillWaveletFamily(WaveletFamily *family);

/* Circular correlation, decimated. With A the longer operand (N samples, the
 * signal when the lengths are equal) and B the shorter (M samples), output j
 * is the sum over i < M of A[(j*step - center + i) mod N] * B[i], for
 * j < ceil(N / step); the caller provides that many output samples. Sums are
 * formed pairwise in a fixed order, so results are reproducible bit for bit.
 * A center outside 0 .. N is first reduced modulo N. step 0 writes nothing,
 * and so does N = 0; M = 0 gives outputs of +0.0. Runs on the calling
 * thread. */
ONSET_API void cdotx_dd(double *output, const double *signal,
                        uint32_t signal_length, const double *filter,
                        uint32_t filter_length, int32_t center, uint32_t step);

/* Result codes of real_1D_wavelet_dec. */
#define ONSET_DEC_OK 0
#define ONSET_DEC_NO_SIGNAL (-1)       /* signal is null (checked first);
                                          nothing written */
#define ONSET_DEC_BAD_ARGUMENT (-2)    /* decomposition or family is null, or a
                                          step is 0; nothing written */
#define ONSET_DEC_WAVELET_TOO_LONG (-3) /* some wavelet is longer than the trace:
                                           those scales are left untouched, all
                                           others are computed */

/* Correlates the trace with every wavelet of the family (cdotx_dd with the
 * wavelet's centre and the scale's step) and stores each scale's coefficient
 * count in decomposition->lengths and the family's count in
 * decomposition->count. Returns one of the ONSET_DEC_ codes. The scales are
 * shared among the threads of one OpenMP parallel region; the coefficients
 * do not depend on the number of threads. */
ONSET_API int32_t real_1D_wavelet_dec(WaveletDecomposition *decomposition,
                                      const double *signal,
                                      uint32_t signal_length,
                                      const WaveletFamily *family);

/* ------------------------------------------------------------------------
 * Capture grouping
 * ------------------------------------------------------------------------ */

/* Groups the events of set->count traces into captures. picks[i] points to
 * counts[i] events of trace i (a count of 0 or below: no events), taken[i]
 * to counts[i] flags, 0 for a free event. Each free event of trace t,
 * in trace and index order, seeds a capture and takes from every later trace
 * at most one free event whose time lies within tolerances[t] of the seed's.
 * Every event placed gets its flag set to 1; events taken on entry stay out.
 * Returns the number of captures written, 0 when set->count <= 0, or -1 when
 * the working storage for a very large set->count could not be allocated
 * (then nothing is written, taken flags included). Runs on the calling
 * thread. */
ONSET_API int32_t captures(const CaptureSet *set, const Pick *const *picks,
                           const int32_t *counts, const double *tolerances,
                           uint8_t *const *taken);

/* Zeroes the first `count` entries of both arrays; nothing when count <= 0. */
ONSET_API void wipe_auxiliaries(const Pick **slots, int32_t *slot_traces,
                                int32_t count);

/* Zeroes the first `count` entries; nothing when count <= 0. */
ONSET_API void wipe_idx_buffers(int32_t *cursors, int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* ONSET_H */
