// Streaming onset picking: excursions, peaks, the steepest rise, dead time.
#include "onset_picker.h"

#include "aic_onset.h"
#include "band_agreement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace detect {

namespace {

// The first index in [from, end) whose value is at or above `threshold`, or
// `end`. Most of the strength lies below it, so blocks are passed over by a
// loop that the compiler vectorises.
int64_t first_at_or_above(const ColumnView &values, int64_t from, int64_t end, double threshold)
{
    constexpr int64_t block = 32;
    const double *x = values.at(from);
    const int64_t count = end - from;
    int64_t j = 0;
    for (; j + block <= count; j += block) {
        double found = 0.0;
        for (int64_t k = j; k < j + block; ++k) found = x[k] >= threshold ? 1.0 : found;
        if (found != 0.0) break;
    }
    while (j < count && !(x[j] >= threshold)) ++j;
    return from + j;
}

}  // namespace

OnsetPicker::OnsetPicker(const RateSettings &settings, double threshold, double min_snr, double event_snr)
    : settings_(settings),
      threshold_(threshold),
      event_snr_(event_snr),
      reach_(settings.windows.jump >> 1),
      lead_(settings.windows.kurtosis >> 1),
      dead_time_(settings.windows.dead_time),
      behind_(std::max(lead_, settings.agreement->reach_back())),
      warm_up_(settings.filter.center + int64_t{settings.windows.kurtosis} + settings.windows.jump),
      s_gap_(std::llround(duplicate_seconds * settings.rate)),
      s_reach_(std::llround(s_window_seconds * settings.rate)),
      least_part_(settings.least_aic_part()),
      first_motion_(settings.rate, lead_),
      energy_(settings.energy_block),
      labels_(settings, min_snr, event_snr)
{
}

void OnsetPicker::samples(const LookbackStore &store, int64_t first, size_t count)
{
    if (!in_run_) {
        in_run_ = true;
        has_strength_ = false;
        filtered_from_ = filtered_end_ = run_first_ = first;
        s_search_ = false;
        energy_.reset();
        labels_.reset();
    }
    filtered_end_ = first + static_cast<int64_t>(count);
    energy_.add(first, store.at(Column::filtered, first), count);
}

void OnsetPicker::strength(const LookbackStore &store, int64_t first, size_t count)
{
    if (!has_strength_) {
        has_strength_ = true;
        run_begin_ = first;
        next_ = first;
        strength_from_ = strength_end_ = first;
    }
    strength_end_ = first + static_cast<int64_t>(count);
    scan(store, false);
}

void OnsetPicker::run_end(const LookbackStore &store)
{
    if (in_run_ && has_strength_) scan(store, true);
    in_run_ = has_strength_ = false;
}

int64_t OnsetPicker::needs_from() const
{
    if (!in_run_) return std::numeric_limits<int64_t>::max();
    return has_strength_ ? std::min(filtered_from_, strength_from_) : filtered_from_;
}

std::vector<Onset> OnsetPicker::take_onsets()
{
    std::vector<Onset> onsets;
    onsets.swap(found_);
    return onsets;
}

int64_t OnsetPicker::excursion_horizon(int64_t next_strength) const
{
    // A later peak of the current excursion is no earlier than its peak.
    int64_t base = has_strength_ ? next_ : next_strength;
    if (in_excursion_) base = std::min(base, peak_);
    return base - reach_;
}

int64_t OnsetPicker::horizon(int64_t next_strength) const
{
    const int64_t excursions = excursion_horizon(next_strength);
    return s_search_ ? std::min(excursions, s_train_ + s_gap_) : excursions;
}

Onset OnsetPicker::refine(int64_t peak, const Views &views) const
{
    const ColumnView &kurtosis = views.kurtosis;
    const ColumnView &filtered = views.filtered;
    const int64_t lo = std::max(run_begin_, peak - reach_);
    const int64_t hi = std::min(peak + reach_, views.strength.end() - 1);
    int64_t low = lo, high = lo;
    for (int64_t i = lo + 1; i <= hi; ++i) {
        if (kurtosis[i] < kurtosis[low]) low = i;
        else if (kurtosis[i] > kurtosis[high]) high = i;
    }
    int64_t steepest = peak;
    double rise = -std::numeric_limits<double>::infinity();
    for (int64_t i = low + 1; i <= high && low < high; ++i)
        if (kurtosis[i] - kurtosis[i - 1] > rise) {
            rise = kurtosis[i] - kurtosis[i - 1];
            steepest = i;
        }
    const int64_t rise_pick = steepest + (low < high ? lead_ : 0);
    // The arrival within half a kurtosis window of the rise.
    const int64_t from = std::max(filtered.begin(), rise_pick - lead_);
    const int64_t to = std::min(filtered.end(), rise_pick + lead_ + 1);
    const AicOnset onset = aic_onset(filtered.at(from), static_cast<size_t>(to - from), least_part_);
    const int64_t pick = from + static_cast<int64_t>(onset.index);
    const int64_t half_width = std::max<int64_t>(1, static_cast<int64_t>(onset.half_width));
    // The samples held however the input was cut: back to the peak's window
    // and half a kurtosis window more (see scan), on to the second after the
    // pick (a peak is placed only once it has come) or the run's end.
    const int64_t held_from = std::max(run_first_, peak - reach_ - lead_);
    const int64_t held_to = std::min(filtered.end(), pick + settings_.signal_span);
    const int32_t polarity = first_motion_(views.raw.at(held_from), held_from, held_to, pick, half_width);
    return {pick, views.strength[peak], half_width, 'P', 0, 0.0, polarity};
}

void OnsetPicker::search_s(const Views &views, int64_t end)
{
    s_search_ = false;
    const ColumnView &filtered = views.filtered;
    const int64_t from = std::max(filtered.begin(), s_train_ + s_gap_);
    end = std::min({end, s_train_ + s_reach_, filtered.end()});
    if (end <= from) return;
    const double *samples = filtered.at(from);
    const SOnset s = s_onset(&samples, 1, static_cast<size_t>(end - from), least_part_, s_contrast);
    if (!s.found) return;
    // No rise of the kurtosis made it: its strength is 0, and its first
    // motion, in the P's coda, is not measured.
    found_.push_back({from + static_cast<int64_t>(s.onset.index), 0.0,
                      std::max<int64_t>(1, static_cast<int64_t>(s.onset.half_width)), 'S', s_train_, 0.0, 0, true});
}

void OnsetPicker::scan(const LookbackStore &store, bool ended)
{
    const Views views{ColumnView(store, Column::raw, filtered_from_, filtered_end_),
                      ColumnView(store, Column::filtered, filtered_from_, filtered_end_),
                      ColumnView(store, Column::strength, strength_from_, strength_end_),
                      ColumnView(store, Column::kurtosis, strength_from_, strength_end_)};
    const ColumnView &strength = views.strength;
    const ColumnView &filtered = views.filtered;
    const int64_t end = strength.end();
    // A peak can be placed once its whole max-jump window has come, and the
    // band-passed samples up to a kurtosis window and the second after the
    // pick that labelling it reads. The pick is then kept, so that a long
    // excursion does not hold its samples.
    const auto place = [&] {
        if (!placed_ && (ended || (peak_ + reach_ < end &&
                                   peak_ + reach_ + 2 * lead_ + settings_.signal_span < filtered.end()))) {
            candidate_ = refine(peak_, views);
            placed_ = true;
        }
        return placed_;
    };
    while (true) {
        if (excursion_over_) {
            if (!place()) break;
            // Before the windows behind it are full, a rise may be the
            // edge of the data rather than an arrival.
            const bool warming_up = candidate_.index < run_first_ + warm_up_;
            if (!labelled_) {
                candidate_.phase = warming_up ? 0
                                              : labels_.label(candidate_.index, candidate_.index >= next_allowed_,
                                                              filtered, energy_);
                labelled_ = true;
            }
            // A P that would make an event on its own must be seen in other
            // bands and windows too; one that is not only joins events that
            // other stations make, where their coincidence sorts it. Noise
            // whose level is not known yet gives an infinite SNR, and is
            // checked. Only such a P waits for the samples the check reads.
            const double snr = labels_.last_snr();
            const bool checked =
                candidate_.phase == 'P' && snr >= event_snr_ && !(snr >= evident_snr && std::isfinite(snr));
            if (checked && !ended && candidate_.index + settings_.agreement->reach_ahead() > filtered.end()) break;
            candidate_.confirmed = !checked || settings_.agreement->agrees(candidate_.index, views.raw, filtered,
                                                                          run_first_, ended ? filtered_end_ : INT64_MAX);
            if (judged_)
                judged_->push_back({candidate_.index, peak_, candidate_.strength,
                                    warming_up ? std::numeric_limits<double>::quiet_NaN() : labels_.last_onset_snr(),
                                    warming_up ? PhaseLabels::Verdict::warm_up : labels_.last_verdict()});
            if (candidate_.phase == 'P') {
                if (s_search_) search_s(views, candidate_.index);
                s_search_ = true;
                s_train_ = candidate_.index;
            }
            if (candidate_.phase != 0) {
                candidate_.train = candidate_.phase == 'S' ? labels_.train_start() : candidate_.index;
                candidate_.snr = candidate_.phase == 'P' ? labels_.last_snr() : 0.0;
                found_.push_back(candidate_);
                ++onset_count_;
                if (candidate_.phase == 'P') next_allowed_ = candidate_.index + dead_time_;
            }
            in_excursion_ = excursion_over_ = labelled_ = false;
        }
        if (!in_excursion_ && next_ < end) next_ = first_at_or_above(strength, next_, end, threshold_);
        if (next_ >= end) {
            if (ended && in_excursion_) {
                excursion_over_ = true;
                continue;
            }
            break;
        }
        const double s = strength[next_];
        if (!in_excursion_) {
            if (s >= threshold_) {
                in_excursion_ = true;
                placed_ = false;
                peak_ = next_;
            }
        } else if (s >= threshold_) {
            if (s > strength[peak_]) {
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
    // The search ends at the next P: it waits until none can come before
    // its end, whatever samples have come.
    const int64_t next_pick = (in_excursion_ ? std::min(peak_, next_) : next_) - reach_;
    if (s_search_ && (ended || (next_pick >= s_train_ + s_reach_ && filtered.end() >= s_train_ + s_reach_)))
        search_s(views, s_train_ + s_reach_);
    int64_t keep = in_excursion_ && !placed_ ? std::min(peak_, next_) - reach_ : next_ - reach_;
    // A placed pick's label reads the samples after it, and so does the
    // search for a P's S.
    if (in_excursion_ && placed_) keep = std::min(keep, candidate_.index);
    if (s_search_) keep = std::min(keep, s_train_ + s_gap_);
    strength_from_ = std::max(strength_from_, keep);
    filtered_from_ = std::max(filtered_from_, keep - behind_);
    energy_.drop_before(std::min(keep - lead_ - settings_.noise_span, labels_.needs_from()));
}

}  // namespace detect
