// The sliding phase: the window keeps w samples, one entering and one leaving
// per output. This is the hot loop of a long trace; its means and delta/n'
// terms multiply by reciprocals fixed once for the phase.
#include "kurtosis/moving_kurtosis.h"

namespace onset::kurtosis {

namespace {

// The running sums with the scaled copies a step needs of them. A step
// computes 6 S2', -3 S2' and -4 S3' for its own update; carrying them over
// saves three of the loop's multiplications (the loop is bound by them).
struct SlidingSums {
    RunningSums sums;
    double six_s2;
    double minus3_s2;
    double minus4_s3;

    void scale() { six_s2 = 6.0 * sums.s2; minus3_s2 = sums.s2 * -3.0; minus4_s3 = sums.s3 * -4.0; }
};

} // namespace

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
    SlidingSums run{sums_, 0.0, 0.0, 0.0};
    run.scale();
    RunningSums &sums = run.sums;
    double mean = rw * sums.s1;
    double *out = output_ + (w - half_);
    const std::uint32_t steps = length_ - w;
    for (std::uint32_t j = 0; j < steps; ++j) {
        const double x = input_[j + w];
        const double y = input_[j];
        const double mean_plus = (x + sums.s1) * rw1;
        const double a_plus = ((width * x - sums.s1) * rw1) * rw;
        const double s1 = sums.s1 + (x - y);
        const double mean_new = rw * s1;
        const double t_plus = (x - mean) * (x - mean_plus);
        const double t_minus = (y - mean_plus) * (y - mean_new);
        const double a_minus = ((y * width - s1) * rw1) * rw;
        const double s4_plus = sums.s4
            + ((run.six_s2 * a_plus + run.minus4_s3) + (a_plus * t_plus) * p) * a_plus;
        const double s2 = sums.s2 + (t_plus - t_minus);
        const double s3_plus = sums.s3 + (run.minus3_s2 + q * t_plus) * a_plus;
        const double minus3_s2 = s2 * -3.0;
        const double s3 = s3_plus - (minus3_s2 + q * t_minus) * a_minus;
        const double six_s2 = 6.0 * s2;
        const double minus4_s3 = s3 * -4.0;
        const double s4 = s4_plus
            - ((minus4_s3 + six_s2 * a_minus) + (t_minus * a_minus) * p) * a_minus;
        double k = kurtosis_of(width, s2, s4);
        mean = mean_new;
        if (__builtin_expect(in_band(k), 1)) {
            // A value in the band implies finite sums: a non-finite S2 or S4
            // gives 0, infinity or NaN, and a non-finite S1' or S3' makes S4'
            // non-finite through Am and -4 S3'. No finiteness test needed.
            run = SlidingSums{{s1, s2, s3, s4}, six_s2, minus3_s2, minus4_s3};
        } else {
            const double *window = input_ + j + 1;
            if (std::isnan(k)) {
                run = SlidingSums{{s1, s2, s3, s4}, six_s2, minus3_s2, minus4_s3};
            } else {
                sums.s1 = s1;
                central_sums_about(window, window + w, mean_new, sums);
                run.scale();
                k = kurtosis_of(width, sums.s2, sums.s4);
            }
            if (!all_finite(sums) && !nonfinite_.any_in(j + 1, j + w)) {
                sums.s1 = window_sum(window, window + w);
                mean = rw * sums.s1;
                central_sums_about(window, window + w, mean, sums);
                run.scale();
                k = kurtosis_of(width, sums.s2, sums.s4);
            }
        }
        out[j] = k;
    }
    sums_ = sums;
}

} // namespace onset::kurtosis
