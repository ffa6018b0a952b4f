// The direction of an arrival's first motion, read on the raw samples.
#ifndef ONSET_DETECT_FIRST_MOTION_H
#define ONSET_DETECT_FIRST_MOTION_H

#include <cstdint>

namespace detect {

// The band-passed trace is zero-phase: it rings before an arrival and can
// turn its first swing over, so the motion is read on the raw samples. The
// noise before the pick (up to `noise` samples, ending half_width samples
// before it) is fitted by a straight line, which takes out the offset and
// the microseism's slope; its largest deviation from the line is the noise
// peak. The first swing is the first sample after the noise whose
// deviation exceeds twice the noise peak; it is 'U' (up) or 'D' (down) by
// its sign, provided that
// - the pick is sharp: a half width of at most `sharp` samples,
// - the swing starts within `sharp` samples after the pick's half width, so
//   that an emergent arrival's later, larger swing is not taken for it, and
// - no sample before it strays beyond the noise peak the other way.
// Otherwise the motion is not clear: 0.
class FirstMotion {
public:
    // `rate` in Hz; `noise` samples of noise are fitted where they are held.
    FirstMotion(double rate, int64_t noise);

    // The motion of an arrival at `pick` +- `half_width` from the raw
    // samples of indices [from, to), x pointing at index `from`.
    int32_t operator()(const double *x, int64_t from, int64_t to, int64_t pick, int64_t half_width) const;

private:
    int64_t sharp_;
    int64_t noise_;
};

}  // namespace detect

#endif
