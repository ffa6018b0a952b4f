// The sliding phase: the window keeps w samples, one entering and one leaving
// per output. This is the hot loop of a long trace; its means and delta/n'
// terms multiply by reciprocals fixed once for the phase.
//
// The rare off-band work lives in its own function, kept out of line: inlined,
// its loops and state crowd the registers of the loop (about 9 % slower).
#include "kurtosis/moving_kurtosis.h"

namespace onset::kurtosis {

// Each step adds x = in[j + w] to the w-sample window (giving w + 1 samples
// about mean_plus), then removes y = in[j] from that.
void MovingKurtosis::slide()
{
    const std::uint32_t w = window_;
    const double width = w;
    const double rw = 1.0 / width;
    const double rw1 = 1.0 / count_value(Count{w} + 1);
    const double p = count_value(Count{w} * (w - 1) + 1);
    const double q = count_value(w - 1);
    double s1 = sums_.s1;
    double s2 = sums_.s2;
    double s3 = sums_.s3;
    double s4 = sums_.s4;
    double mean = rw * s1;
    // 6 S2, -3 S2 and -4 S3 of the current sums: a step forms them for its
    // new sums anyway, and the next step reuses them.
    double six_s2 = 6.0 * s2;
    double minus3_s2 = s2 * -3.0;
    double minus4_s3 = s3 * -4.0;
    const double *in = input_;
    const double *entering = input_ + w;
    double *out = output_ + (w - half_);
    const std::uint32_t steps = length_ - w;
    for (std::uint32_t j = 0; j < steps; ++j) {
        const double x = entering[j];
        const double y = in[j];
        const double mean_plus = (x + s1) * rw1;
        const double a_plus = ((width * x - s1) * rw1) * rw;
        const double s1_new = s1 + (x - y);
        const double mean_new = rw * s1_new;
        const double t_plus = (x - mean) * (x - mean_plus);
        const double t_minus = (y - mean_plus) * (y - mean_new);
        const double a_minus = ((y * width - s1_new) * rw1) * rw;
        const double s4_plus = s4 + ((six_s2 * a_plus + minus4_s3) + (a_plus * t_plus) * p) * a_plus;
        const double s2_new = s2 + (t_plus - t_minus);
        const double s3_plus = s3 + (minus3_s2 + q * t_plus) * a_plus;
        minus3_s2 = s2_new * -3.0;
        const double s3_new = s3_plus - (minus3_s2 + q * t_minus) * a_minus;
        minus4_s3 = s3_new * -4.0;
        six_s2 = 6.0 * s2_new;
        const double s4_new = s4_plus
            - ((minus4_s3 + six_s2 * a_minus) + (t_minus * a_minus) * p) * a_minus;
        double k = kurtosis_of(width, s2_new, s4_new);
        s1 = s1_new;
        s2 = s2_new;
        s3 = s3_new;
        s4 = s4_new;
        mean = mean_new;
        if (__builtin_expect(!in_band(k), 0)) {
            // Copies, so that the loop's own variables never have their
            // address taken and stay in registers.
            RunningSums sums{s1, s2, s3, s4};
            double rebuilt_mean = mean;
            k = off_band(j + 1, k, sums, rebuilt_mean);
            mean = rebuilt_mean;
            s1 = sums.s1;
            s2 = sums.s2;
            s3 = sums.s3;
            s4 = sums.s4;
            six_s2 = 6.0 * s2;
            minus3_s2 = s2 * -3.0;
            minus4_s3 = s3 * -4.0;
        }
        out[j] = k;
    }
    sums_ = RunningSums{s1, s2, s3, s4};
}

// Off the band: rebuild S2, S3, S4 about the carried mean. NaN passes (a
// window without spread) and keeps the updated sums.
__attribute__((noinline)) double MovingKurtosis::off_band(std::uint32_t lo, double k,
                                                          RunningSums &sums, double &mean)
{
    const double width = window_;
    const double *window = input_ + lo;
    if (!std::isnan(k)) {
        central_sums_about(window, window + window_, mean, sums);
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
    return k;
}

} // namespace onset::kurtosis
