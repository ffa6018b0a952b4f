// The onset inside a short stretch of a band-passed trace by the Akaike
// information criterion of a split into two stationary parts.
#ifndef ONSET_DETECT_AIC_ONSET_H
#define ONSET_DETECT_AIC_ONSET_H

#include <cstddef>

namespace detect {

struct AicOnset {
    size_t index;       // first sample of the second part
    size_t half_width;  // samples either side where the split fits as well
};

// AIC(k) = k ln var(x[0..k)) + (n - k) ln var(x[k..n)), least at the sample
// where the noise before gives way to the arrival. Both parts hold at least
// `least_part` samples. The splits whose AIC lies within 2 of the least
// (within a likelihood ratio of e) fit as well: the farthest of them, on
// either side, gives the half width. Needs n >= 2 * least_part + 1; returns
// {n / 2, n / 2} otherwise.
AicOnset aic_onset(const double *x, size_t n, size_t least_part);

// The same over several components at once (a station's horizontals), each
// n samples: the variance of a part is the sum of theirs.
AicOnset aic_onset(const double *const *components, size_t count, size_t n, size_t least_part);

// The S in the samples after a P (count components, n samples each, no
// gaps): the split of the stretch from their start to their largest
// amplitude that is best by the criterion, kept only where what follows it
// there has `contrast` times the mean square of what precedes it. `length`
// is that stretch's.
struct SOnset {
    bool found;
    AicOnset onset;
    size_t length;
};
SOnset s_onset(const double *const *components, size_t count, size_t n, size_t least_part, double contrast);

}  // namespace detect

#endif
