// The check of an onset in other bands and windows: arrivals pass and noise
// does not, and it reads nothing beyond the reach it declares, so that what
// the store holds cannot change its answer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "band_agreement.h"
#include "bandpass_design.h"
#include "noise.h"
#include "onset.h"
#include "onset_detect.h"
#include "onset_picker.h"
#include "settings.h"

namespace {

using detect::Column;

constexpr double rate = 100.0;
constexpr int64_t length = 6000;
const std::vector<int64_t> arrivals{2000, 4000};

// Noise, and arrivals `gain` times as strong that decay over two seconds.
std::vector<double> trace(double gain = 20.0)
{
    std::vector<double> x = onset_test::normal_noise(length, 5);
    for (const int64_t a : arrivals)
        for (int64_t i = a; i < length; ++i)
            x[i] *= 1.0 + (gain - 1.0) * std::exp(-static_cast<double>(i - a) / 200.0);
    return x;
}

// The channel's band, correlated directly, the trace held at its ends.
std::vector<double> band_passed(const std::vector<double> &x, const onset_detect_options &options)
{
    const detect::BandPass filter = detect::make_bandpass(rate, options.fmin, options.fmax, options.voices);
    std::vector<double> y(x.size(), 0.0);
    for (int64_t i = 0; i < length; ++i)
        for (size_t k = 0; k < filter.kernel.size(); ++k)
            y[i] += filter.kernel[k] * x[std::clamp<int64_t>(i + static_cast<int64_t>(k) - filter.center, 0, length - 1)];
    return y;
}

// A store whose raw and band-passed columns hold the trace over [from, to)
// and NaN elsewhere, up to `room` beyond its end.
struct Columns {
    Columns(const std::vector<double> &x, const std::vector<double> &y, int64_t from, int64_t to, int64_t room)
        : store(2, static_cast<size_t>(length + room))
    {
        store.reset(0);
        store.extend_to(length + room);
        for (int64_t i = 0; i < length + room; ++i) {
            const bool held = i >= from && i < to;
            *store.at(Column::raw, i) = held ? x[i] : std::numeric_limits<double>::quiet_NaN();
            *store.at(Column::filtered, i) = held ? y[i] : std::numeric_limits<double>::quiet_NaN();
        }
    }
    detect::ColumnView raw() const { return {store, Column::raw, store.begin(), store.end()}; }
    detect::ColumnView filtered() const { return {store, Column::filtered, store.begin(), store.end()}; }
    detect::LookbackStore store;
};

onset_detect_options defaults()
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    return options;
}

TEST(DetectAgreement, ArrivalsPassAndNoiseDoesNot)
{
    const onset_detect_options options = defaults();
    const detect::BandAgreement agreement(options, rate, 50, 50, 100);
    EXPECT_EQ(agreement.variant_count(), 4u);
    const std::vector<double> x = trace(), y = band_passed(x, options);
    const Columns all(x, y, 0, length, 0);
    for (const int64_t a : arrivals) {
        EXPECT_TRUE(agreement.agrees(a, all.raw(), all.filtered(), 0, length)) << a;
        // Half a second late, inside the arrival: the variants pick it, not this.
        EXPECT_FALSE(agreement.agrees(a + 50, all.raw(), all.filtered(), 0, length)) << a;
    }
    size_t passed = 0;
    for (int64_t pick = 500; pick < 1800; pick += 13) passed += agreement.agrees(pick, all.raw(), all.filtered(), 0, length);
    EXPECT_LE(passed, 3u);
}

TEST(DetectAgreement, BandKernelsAreEven)
{
    // The variants' band-pass takes one product per pair of taps.
    for (const double low : {0.5, 1.0, 4.0})
        for (const double r : {40.0, 100.0, 250.0}) {
            const detect::BandPass filter = detect::make_bandpass(r, low, std::min(10.0 * low, 0.4 * r), 4);
            for (int32_t k = 1; k <= filter.center; ++k)
                ASSERT_EQ(filter.kernel[filter.center - k], filter.kernel[filter.center + k]) << low << " " << r;
        }
}

TEST(DetectAgreement, ReadsNothingBeyondItsReach)
{
    const onset_detect_options options = defaults();
    const detect::BandAgreement agreement(options, rate, 50, 50, 100);
    const std::vector<double> x = trace(), y = band_passed(x, options);
    // A stretch that goes on, and one that ends with the trace; NaN read
    // anywhere outside the reach would change the answer.
    const Columns all(x, y, 0, length, 500);
    size_t passed = 0;
    for (const int64_t end : {std::numeric_limits<int64_t>::max(), length})
        for (int64_t pick = 10; pick + (end == length ? 0 : agreement.reach_ahead()) < length; pick += 7) {
            const Columns held(x, y, std::max<int64_t>(0, pick - agreement.reach_back()),
                               std::min(end, pick + agreement.reach_ahead()), 500);
            const bool answer = agreement.agrees(pick, all.raw(), all.filtered(), 0, end);
            ASSERT_EQ(agreement.agrees(pick, held.raw(), held.filtered(), 0, end), answer) << pick << " " << end;
            passed += answer;
        }
    EXPECT_GT(passed, 1u);
}

TEST(DetectAgreement, PickerHoldsWhatTheCheckReads)
{
    // Weak arrivals (below the SNR that needs no check) and a low threshold
    // that lets noise through to the check. The picker is given, at every
    // step, a store that holds its columns from what it said it needs on to
    // the samples given so far, NaN around: the onsets must be those of a
    // store that holds everything.
    onset_detect_options options = defaults();
    options.threshold = 1.5;
    options.min_snr = 1.0;
    options.event_snr = 1.0;
    const detect::RateSettings settings(options, rate);
    const std::vector<double> x = trace(5.0), y = band_passed(x, options);
    std::vector<double> kurtosis(x.size()), strength(x.size());
    trace_movkurtosis(kurtosis.data(), y.data(), length, settings.windows.kurtosis);
    trace_movmxjump(strength.data(), kurtosis.data(), length, settings.windows.jump);
    const auto run = [&](int64_t step, bool trim) {
        detect::OnsetPicker picker(settings, options.threshold, options.min_snr, options.event_snr);
        int64_t held_from = 0;
        for (int64_t i = 0; i < length; i += step) {
            const int64_t n = std::min(step, length - i);
            detect::LookbackStore store(detect::channel_columns, static_cast<size_t>(length + 2000));
            store.reset(-1000);
            store.extend_to(i + n + 1000);
            for (int64_t k = -1000; k < i + n + 1000; ++k) {
                const bool held = k >= held_from && k >= 0 && k < i + n;
                const double none = std::numeric_limits<double>::quiet_NaN();
                *store.at(Column::raw, k) = held ? x[k] : none;
                *store.at(Column::filtered, k) = held ? y[k] : none;
                *store.at(Column::kurtosis, k) = held ? kurtosis[k] : none;
                *store.at(Column::strength, k) = held ? strength[k] : none;
            }
            picker.samples(store, i, static_cast<size_t>(n));
            picker.strength(store, i, static_cast<size_t>(n));
            if (trim) held_from = std::max(held_from, std::min(picker.needs_from(), i + n));
        }
        return picker.take_onsets();
    };
    const auto whole = run(length, false);
    size_t confirmed = 0, checked = 0;
    for (const detect::Onset &onset : whole)
        if (onset.phase == 'P' && onset.snr < detect::evident_snr) {
            ++checked;
            confirmed += onset.confirmed;
        }
    EXPECT_GT(confirmed, 0u);
    EXPECT_LT(confirmed, checked);
    for (const int64_t step : {int64_t{1}, int64_t{50}, int64_t{333}}) {
        const auto cut = run(step, true);
        ASSERT_EQ(cut.size(), whole.size()) << step;
        for (size_t k = 0; k < cut.size(); ++k) {
            EXPECT_EQ(cut[k].index, whole[k].index) << step;
            EXPECT_EQ(cut[k].phase, whole[k].phase) << step;
            EXPECT_EQ(cut[k].confirmed, whole[k].confirmed) << step;
        }
    }
}

}  // namespace
