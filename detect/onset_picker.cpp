// Streaming onset picking: excursions, peaks, the steepest rise, dead time.
#include "onset_picker.h"

#include <algorithm>
#include <limits>

namespace detect {

OnsetPicker::OnsetPicker(const RateSettings &settings, double threshold)
    : threshold_(threshold),
      reach_(settings.windows.jump >> 1),
      lead_(settings.windows.kurtosis >> 1),
      dead_time_(settings.windows.dead_time)
{
}

void OnsetPicker::strength(int64_t first, const double *strength, const double *kurtosis, size_t count)
{
    if (!in_run_) {
        in_run_ = true;
        run_begin_ = first;
        next_ = first;
        strength_.reset(first);
        kurtosis_.reset(first);
    }
    strength_.append(strength, count);
    kurtosis_.append(kurtosis, count);
    scan(false);
}

void OnsetPicker::run_end()
{
    if (!in_run_) return;
    scan(true);
    in_run_ = false;
}

std::vector<Onset> OnsetPicker::take_onsets()
{
    std::vector<Onset> onsets;
    onsets.swap(found_);
    return onsets;
}

int64_t OnsetPicker::horizon(int64_t next_strength) const
{
    // A later peak of the current excursion is no earlier than its peak.
    int64_t base = in_run_ ? next_ : next_strength;
    if (in_excursion_) base = std::min(base, peak_);
    return base - reach_;
}

Onset OnsetPicker::refine(int64_t peak) const
{
    const int64_t lo = std::max(run_begin_, peak - reach_);
    const int64_t hi = std::min(peak + reach_, strength_.end() - 1);
    int64_t low = lo, high = lo;
    for (int64_t i = lo + 1; i <= hi; ++i) {
        if (kurtosis_[i] < kurtosis_[low]) low = i;
        else if (kurtosis_[i] > kurtosis_[high]) high = i;
    }
    int64_t steepest = peak;
    double rise = -std::numeric_limits<double>::infinity();
    for (int64_t i = low + 1; i <= high && low < high; ++i)
        if (kurtosis_[i] - kurtosis_[i - 1] > rise) {
            rise = kurtosis_[i] - kurtosis_[i - 1];
            steepest = i;
        }
    return {steepest + (low < high ? lead_ : 0), strength_[peak]};
}

void OnsetPicker::scan(bool ended)
{
    const int64_t end = strength_.end();
    // A peak can be placed once its whole max-jump window has come. The pick
    // is then kept, so that a long excursion does not hold its samples.
    const auto place = [&] {
        if (!placed_ && (ended || peak_ + reach_ < end)) {
            candidate_ = refine(peak_);
            placed_ = true;
        }
        return placed_;
    };
    while (true) {
        if (excursion_over_) {
            if (!place()) break;
            if (candidate_.index >= next_allowed_) {
                found_.push_back(candidate_);
                ++onset_count_;
                next_allowed_ = candidate_.index + dead_time_;
            }
            in_excursion_ = excursion_over_ = false;
        }
        if (next_ >= end) {
            if (ended && in_excursion_) {
                excursion_over_ = true;
                continue;
            }
            break;
        }
        const double s = strength_[next_];
        if (!in_excursion_) {
            if (s >= threshold_) {
                in_excursion_ = true;
                placed_ = false;
                peak_ = next_;
            }
        } else if (s >= threshold_) {
            if (s > strength_[peak_]) {
                peak_ = next_;
                placed_ = false;
            }
            // Far enough beyond the peak, the samples around it go.
            if (next_ - peak_ > 2 * reach_) place();
        } else {
            excursion_over_ = true;
        }
        ++next_;
    }
    const int64_t keep = in_excursion_ && !placed_ ? std::min(peak_, next_) - reach_ : next_ - reach_;
    strength_.drop_before(keep);
    kurtosis_.drop_before(keep);
}

}  // namespace detect
