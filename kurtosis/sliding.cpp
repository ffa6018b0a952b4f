// The sliding phase: the window keeps w samples, one entering and one leaving
// per output. This is the hot loop of a long trace; its means and delta/n'
// terms multiply by reciprocals fixed once for the phase.
//
// The rare off-band work lives in its own function, kept out of line: inlined,
// its loops and state crowd the registers of the loop (about 9 % slower).
#include "kurtosis/moving_kurtosis.h"
#include "kurtosis/sliding_step.h"

namespace onset::kurtosis {

void MovingKurtosis::slide(std::uint32_t first_step)
{
    const SlidingWidth<double> c = sliding_width(window_);
    SlidingSums<double> s = sliding_sums(sums_, c.rw * sums_.s1);
    const double *in = input_;
    const double *entering = input_ + window_;
    double *out = output_ + (window_ - half_);
    const std::uint32_t steps = length_ - window_;
    for (std::uint32_t j = first_step; j < steps; ++j) {
        double k = slide_once(s, c, entering[j], in[j]);
        if (__builtin_expect(!in_band(k), 0)) {
            // Copies, so that the loop's own variables never have their
            // address taken and stay in registers.
            RunningSums sums{s.s1, s.s2, s.s3, s.s4};
            double mean = s.mean;
            k = off_band(j + 1, k, sums, mean);
            s = sliding_sums(sums, mean);
        }
        out[j] = k;
    }
    sums_ = RunningSums{s.s1, s.s2, s.s3, s.s4};
}

// Off the band: rebuild S2, S3, S4 about the carried mean. NaN passes (a
// window without spread) and keeps the updated sums.
__attribute__((noinline)) double MovingKurtosis::off_band(std::uint32_t lo, double k,
                                                          RunningSums &sums, double &mean)
{
    const double width = window_;
    const double *window = input_ + lo;
    if (!std::isnan(k)) {
        ahead_.central_sums(input_, window_, lo, length_ - window_, sums.s1, mean, sums);
        k = kurtosis_of(width, sums.s2, sums.s4);
    }
    // Only values off the band need the finiteness test: a non-finite S2'
    // or S4' gives 0, infinity or NaN, and a non-finite S1' or S3' reaches
    // S4' through Am and -4 S3'.
    if (!all_finite(sums) && !nonfinite_.any_in(lo, lo + window_ - 1)) {
        sums.s1 = window_sum(window, window + window_);
        mean = (1.0 / width) * sums.s1;
        central_sums_about(window, window + window_, mean, sums);
        k = kurtosis_of(width, sums.s2, sums.s4);
    }
    return stored(k);
}

} // namespace onset::kurtosis
