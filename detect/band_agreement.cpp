// The variants of an onset's band and windows, and their picks around it.
#include "band_agreement.h"

#include <algorithm>
#include <cmath>

#include "aic_onset.h"
#include "onset.h"
#include "settings.h"

namespace detect {

namespace {

// The widest band worth a variant.
constexpr double longest_variant_kernel = 4096;

// Scratch of the calling thread, shared by the channels it serves.
thread_local std::vector<double> input, band, kurtosis;

}  // namespace

BandAgreement::BandAgreement(const onset_detect_options &options, double rate, int64_t kurtosis_half,
                             int64_t jump_half, int64_t ahead)
    : threshold_(options.threshold), tolerance_(std::llround(agreement_seconds * rate)), ahead_(ahead)
{
    // Windows first: they read the band-passed samples held, and so cost
    // least when a check stops at its second disagreement.
    variants_.push_back(
        {BandPass{}, std::max<int64_t>(2, kurtosis_half / 2), std::max<int64_t>(1, jump_half / 2), 0});
    variants_.push_back({BandPass{}, 2 * kurtosis_half, 2 * jump_half, 0});
    // The higher bands end below 0.45 of the rate, where the filter bank's
    // wavelets are still a few samples wide.
    const double low = options.fmin / 2.0, high = std::min(2.0 * options.fmax, 0.45 * rate);
    const double bands[][2] = {{2.0 * options.fmin, high}, {low, options.fmax / 2.0}};
    for (const auto &b : bands) {
        if (b[0] >= b[1] || bandpass_length(rate, b[0], b[1], options.voices) > longest_variant_kernel) continue;
        variants_.push_back({make_bandpass(rate, b[0], b[1], options.voices), kurtosis_half, jump_half, 0});
        longest_half_ = std::max<int64_t>(longest_half_, variants_.back().filter.center);
    }
    // A variant reads its kurtosis a jump window around where the onset
    // enters it, and that kurtosis reads half a window either side.
    for (Variant &v : variants_) {
        v.back = 2 * v.half + v.reach + tolerance_ + 1;
        back_ = std::max(back_, v.back);
    }
}

bool BandAgreement::agrees(int64_t pick, const ColumnView &raw, const ColumnView &filtered, int64_t begin,
                           int64_t end) const
{
    const int64_t to = std::min(end, pick + ahead_);
    // Variants are asked until the answer is known: the cheap ones first.
    size_t agreeing = 0, disagreeing = 0;
    for (const Variant &v : variants_) {
        if (agreeing + 1 >= variants_.size()) return true;
        const int64_t from = std::max(begin, pick - v.back);
        const double *x = filtered.at(from);
        if (to - from < 3) {
            x = nullptr;
        } else if (!v.filter.kernel.empty()) {
            band_pass(v.filter, raw, from, to, begin, end);
            x = band.data();
        }
        if (x && picks_near(v, pick, x, from, to)) ++agreeing;
        else if (++disagreeing > 1) return false;
    }
    return true;
}

void BandAgreement::band_pass(const BandPass &filter, const ColumnView &raw, int64_t from, int64_t to, int64_t begin,
                              int64_t end)
{
    // The raw samples around [from, to), held at the stretch's edges.
    const int64_t half = filter.center;
    const int64_t raw_from = std::max(begin, from - half), raw_to = std::min(end, to + half);
    input.resize(static_cast<size_t>(to - from + 2 * half));
    for (int64_t i = from - half; i < to + half; ++i)
        input[static_cast<size_t>(i - (from - half))] = raw[std::clamp(i, raw_from, raw_to - 1)];
    // The kernel is even: each pair of samples at one distance from the
    // centre takes one product. Each output sums its products in the order
    // of the kernel, whatever the vector width the compiler gives the loop
    // over the outputs.
    const auto count = static_cast<size_t>(to - from);
    const auto centre = static_cast<size_t>(half);
    band.resize(count);
    const double *middle = input.data() + centre;
    for (size_t j = 0; j < count; ++j) band[j] = filter.kernel[centre] * middle[j];
    for (size_t k = 1; k <= centre; ++k) {
        const double c = filter.kernel[centre - k];
        const double *before = middle - k, *after = middle + k;
        for (size_t j = 0; j < count; ++j) band[j] += c * (before[j] + after[j]);
    }
}

bool BandAgreement::picks_near(const Variant &v, int64_t pick, const double *x, int64_t from, int64_t to) const
{
    const auto count = static_cast<size_t>(to - from);
    kurtosis.resize(count);
    trace_movkurtosis(kurtosis.data(), x, static_cast<uint32_t>(count), static_cast<uint32_t>(2 * v.half + 1));
    const auto k = [&](int64_t i) { return kurtosis[static_cast<size_t>(i - from)]; };
    // The onset enters the kurtosis window half a window before it; only
    // full windows count.
    const int64_t entry = pick - v.half;
    const int64_t lo = std::max(entry - v.reach - tolerance_, from + v.half);
    const int64_t hi = std::min(entry + v.reach, to - 1 - v.half);
    if (lo >= hi) return false;
    int64_t low = lo;
    for (int64_t i = lo + 1; i <= hi; ++i)
        if (k(i) < k(low)) low = i;
    int64_t high = low;
    for (int64_t i = low + 1; i <= hi; ++i)
        if (k(i) > k(high)) high = i;
    if (!(k(high) - k(low) >= threshold_)) return false;
    int64_t steepest = high;
    double rise = -INFINITY;
    for (int64_t i = low + 1; i <= high; ++i)
        if (k(i) - k(i - 1) > rise) {
            rise = k(i) - k(i - 1);
            steepest = i;
        }
    // The arrival within half a window of the steepest rise, by AIC.
    const int64_t rise_pick = steepest + v.half;
    const int64_t a = std::max(from, rise_pick - v.half), b = std::min(to, rise_pick + v.half + 1);
    if (b <= a) return false;
    const AicOnset onset = aic_onset(x + (a - from), static_cast<size_t>(b - a),
                                         static_cast<size_t>(std::max<int64_t>(4, (2 * v.half + 1) / 16)));
    return std::llabs(a + static_cast<int64_t>(onset.index) - pick) <= tolerance_;
}

}  // namespace detect
