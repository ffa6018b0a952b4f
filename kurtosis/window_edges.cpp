// The phases where the window is cut by an end of the trace: the first
// output, the growing phase, the whole-trace windows of a short trace and the
// shrinking phase. They divide by the changing count.
#include "kurtosis/moving_kurtosis.h"

namespace onset::kurtosis {

MovingKurtosis::MovingKurtosis(double *output, const double *input, std::uint32_t length,
                               std::uint32_t window, simd::Isa path)
    : output_(output), input_(input), length_(length), window_(window), half_(window >> 1),
      path_(path), nonfinite_(input), ahead_(path)
{
}

double MovingKurtosis::rebuild_dividing(std::uint32_t lo, std::uint32_t count)
{
    const double *first = input_ + lo;
    const double n = count;
    sums_.s1 = window_sum(first, first + count);
    central_sums_about(first, first + count, sums_.s1 / n, sums_);
    return kurtosis_of(n, sums_.s2, sums_.s4);
}

void MovingKurtosis::first_output(std::uint32_t last)
{
    const double n = count_value(Count{last} + 1);
    sums_.s1 = window_sum(input_, input_ + last + 1);
    central_sums_about(input_, input_ + last + 1, sums_.s1 / n, sums_);
    output_[0] = stored(kurtosis_of(n, sums_.s2, sums_.s4));
}

// g is the count before the step and the index of the sample that enters;
// the step writes out[g - h].
void MovingKurtosis::grow(std::uint32_t first, std::uint32_t end)
{
    for (std::uint32_t g = first; g < end; ++g) {
        const double x = input_[g];
        const double count = g;
        const double count_after = count_value(Count{g} + 1);
        const double mean_before = sums_.s1 / count;
        const double a = (count * x - sums_.s1) / count_value(Count{g} * (g + 1));
        const double s1 = sums_.s1 + x;
        const double mean_after = s1 / count_after;
        const double t = (x - mean_after) * (x - mean_before);
        const double s4_new = sums_.s4
            + (count_value(Count{g} * (g - 1) + 1) * (a * t)
               + ((sums_.s2 * 6.0) * a + sums_.s3 * -4.0)) * a;
        const double s2_new = t + sums_.s2;
        double k = kurtosis_of(count_after, s2_new, s4_new);
        if (plausible(k)) {
            sums_.s3 = sums_.s3 + a * (sums_.s2 * -3.0 + t * static_cast<double>(g - 1));
            sums_.s2 = s2_new;
            sums_.s4 = s4_new;
        } else {
            central_sums_about(input_, input_ + g + 1, mean_after, sums_);
            k = kurtosis_of(count_after, sums_.s2, sums_.s4);
        }
        sums_.s1 = s1;
        if (!all_finite(sums_) && !nonfinite_.any_in(0, g))
            k = rebuild_dividing(0, g + 1);
        output_[g - half_] = stored(k);
    }
}

void MovingKurtosis::hold(std::uint32_t first, std::uint32_t end)
{
    const double count = length_;
    for (std::uint32_t i = first; i < end; ++i)
        output_[i] = stored(kurtosis_of(count, sums_.s2, sums_.s4));
}

// m is the count before the step; in[n - m] leaves.
void MovingKurtosis::shrink(std::uint32_t first)
{
    std::uint32_t m = length_ < window_ ? length_ : window_;
    for (std::uint32_t i = first; i < length_; ++i, --m) {
        const double y = input_[length_ - m];
        const double count_after = m - 1;
        const double mean_before = sums_.s1 / static_cast<double>(m);
        const double s1 = sums_.s1 - y;
        const double mean_after = s1 / count_after;
        const double a = mean_before - mean_after;
        const double t = (y - mean_after) * (y - mean_before);
        const double s2 = sums_.s2 - t;
        const double s3 = sums_.s3 - ((s2 * -3.0) * a + static_cast<double>(m - 2) * (t * a));
        const double s4 = sums_.s4
            - ((a * (t * a)) * count_value(Count{m - 2} * (m - 1) + 1)
               + (((s2 * 6.0) * a) * a + (s3 * -4.0) * a));
        sums_ = RunningSums{s1, s2, s3, s4};
        double k = kurtosis_of(count_after, s2, s4);
        if (!all_finite(sums_) && !nonfinite_.any_in(length_ - m + 1, length_ - 1))
            k = rebuild_dividing(length_ - m + 1, m - 1);
        output_[i] = stored(k);
    }
}

} // namespace onset::kurtosis
