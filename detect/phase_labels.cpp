// Noise level, wave train and S wave of each channel's onsets.
#include "phase_labels.h"

#include <algorithm>
#include <limits>

namespace detect {

PhaseLabels::PhaseLabels(const RateSettings &settings, double min_snr, double event_snr)
    : settings_(settings),
      min_snr_(min_snr),
      event_snr_(event_snr),
      window_blocks_(std::max<int64_t>(1, settings.signal_span / settings.energy_block)),
      longest_train_(30 * settings.signal_span)
{
}

void PhaseLabels::reset() { in_train_ = has_s_ = false; }

int64_t PhaseLabels::needs_from() const
{
    return in_train_ ? next_window_ * settings_.energy_block : std::numeric_limits<int64_t>::max();
}

double PhaseLabels::mean_square_after(int64_t pick, const ColumnView &filtered) const
{
    const int64_t end = std::min(filtered.end(), pick + settings_.signal_span);
    double squares = 0.0;
    for (int64_t i = pick; i < end; ++i) squares += filtered[i] * filtered[i];
    return end > pick ? squares / static_cast<double>(end - pick) : 0.0;
}

bool PhaseLabels::train_goes_on(int64_t pick, const EnergyHistory &energy)
{
    if (!in_train_) return false;
    if (pick - train_start_ > longest_train_) return in_train_ = false;
    const int64_t block = energy.block_length();
    // Every whole second of the train before the pick must hold the energy.
    while ((next_window_ + window_blocks_) * block <= pick) {
        double squares = 0.0;
        for (int64_t b = next_window_; b < next_window_ + window_blocks_; ++b) {
            const double mean = energy.block_mean(b);
            if (mean < 0.0) return in_train_ = false;
            squares += mean;
        }
        if (squares / static_cast<double>(window_blocks_) < 2.0 * train_noise_) return in_train_ = false;
        next_window_ += window_blocks_;
    }
    return true;
}

char PhaseLabels::label(int64_t pick, bool may_begin, const ColumnView &filtered, const EnergyHistory &energy)
{
    const double after = mean_square_after(pick, filtered);
    onset_snr_ = std::numeric_limits<double>::quiet_NaN();
    const bool overtakes = in_train_ && last_snr_ < event_snr_ && after >= event_snr_ * train_noise_;
    if (overtakes) may_begin = true;
    else if (train_goes_on(pick, energy)) {
        verdict_ = Verdict::coda;
        if (has_s_ || pick - train_start_ < settings_.noise_gap) return 0;
        const double before = energy.mean_square(pick - 2 * settings_.signal_span, pick - settings_.noise_gap, 1);
        if (before > 0.0 && after < 2.0 * before) return 0;
        has_s_ = true;
        verdict_ = Verdict::s;
        return 'S';
    }
    verdict_ = Verdict::dead_time;
    if (!may_begin) return 0;
    const int64_t from = pick - settings_.noise_span, to = pick - settings_.noise_gap;
    const double floor = energy.quantile(from, to, 0.25, settings_.noise_span / 5);
    const double mean_noise = energy.mean_square(from, to, 1);
    const double recent = energy.mean_square(pick - 2 * settings_.signal_span, to, 1);
    // With too little noise before it to tell, an onset counts.
    const double noise = std::max(floor, std::min(mean_noise, recent));
    onset_snr_ = floor > 0.0 ? after / noise : std::numeric_limits<double>::infinity();
    verdict_ = Verdict::low_snr;
    if (floor > 0.0 && after < min_snr_ * noise) return 0;
    verdict_ = Verdict::p;
    last_snr_ = onset_snr_;
    in_train_ = true;
    has_s_ = false;
    train_start_ = pick;
    train_noise_ = mean_noise > 0.0 ? mean_noise : after / min_snr_;
    next_window_ = energy.block_at_or_after(pick);
    return 'P';
}

}  // namespace detect
