// The band-pass kernel: the Mexican-hat filter bank summed into one filter.
#ifndef ONSET_DETECT_BANDPASS_DESIGN_H
#define ONSET_DETECT_BANDPASS_DESIGN_H

#include <cstdint>
#include <vector>

namespace detect {

// The wavelets whose peak frequencies run from fmin up to half an octave
// above fmax, each scaled to unit gain at its peak and summed into one
// kernel. A Mexican hat falls off much faster above its peak than below, so
// the extra half octave is what puts fmax, like fmin, near the half-power
// point. Correlating a trace with the sum equals summing its correlations
// with every wavelet, at a fraction of the work and without one full-length
// output per scale.
struct BandPass {
    std::vector<double> kernel;  // odd length, centre in the middle
    int32_t center = 0;
};

// Scale (in samples) of the Mexican hat whose response peaks at `frequency`.
double scale_for_frequency(double rate, double frequency);

// The scale ladder of a band: first (smallest) scale in samples, and the
// number of scales, `voices` per octave.
struct Ladder {
    double first;
    uint32_t count;
};
Ladder scale_ladder(double rate, double fmin, double fmax, unsigned voices);

// Samples of the band-pass kernel, the length of its widest wavelet (as a
// double, so that a tiny fmin cannot wrap).
double bandpass_length(double rate, double fmin, double fmax, unsigned voices);

BandPass make_bandpass(double rate, double fmin, double fmax, unsigned voices);

// Amplitude response of the kernel at `frequency` (Hz), for tests and checks.
double bandpass_gain(const BandPass &filter, double rate, double frequency);

}  // namespace detect

#endif
