// The engine's stages against direct computations: the band-pass with its
// gaps and edges, the strength in pieces, the picker, and the grouping in
// blocks against one call over everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "aic_onset.h"
#include "bandpass_stream.h"
#include "energy_history.h"
#include "event_merging.h"
#include "event_grouping.h"
#include "noise.h"
#include "onset.h"
#include "onset_picker.h"
#include "settings.h"
#include "strength_stream.h"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

using detect::Column;

// Collects what a stage writes to the store, NaN-padded by index from 0.
struct Collected final : detect::FilteredSink, detect::StrengthSink {
    explicit Collected(const detect::LookbackStore &from) : store(from) {}
    const detect::LookbackStore &store;
    std::vector<double> values, kurtosis;
    int ends = 0;
    void put(Column column, int64_t first, size_t n, bool with_kurtosis)
    {
        const size_t end = static_cast<size_t>(first) + n;
        if (values.size() < end) values.resize(end, nan), kurtosis.resize(end, nan);
        std::copy_n(store.at(column, first), n, values.begin() + first);
        if (with_kurtosis) std::copy_n(store.at(Column::kurtosis, first), n, kurtosis.begin() + first);
    }
    void filtered(int64_t first, size_t n) override { put(Column::filtered, first, n, false); }
    void segment_end() override { ++ends; }
    void samples(const detect::LookbackStore &, int64_t, size_t) override {}
    void strength(const detect::LookbackStore &, int64_t first, size_t n) override { put(Column::strength, first, n, true); }
    void run_end(const detect::LookbackStore &) override { ++ends; }
    int64_t needs_from() const override { return std::numeric_limits<int64_t>::max(); }
};

// Writes values to a column of the store, which is extended to hold them.
void write(detect::LookbackStore &store, Column column, int64_t first, const double *values, size_t n)
{
    store.extend_to(first + static_cast<int64_t>(n));
    std::copy_n(values, n, store.at(column, first));
}

onset_detect_options defaults()
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    return options;
}

TEST(DetectBandPass, MatchesDirectCorrelationWithBridgesEdgesAndBreaks)
{
    // A short gap is bridged by a line; a gap longer than the filter ends
    // the segment, and each segment is held at its edge samples.
    const detect::RateSettings settings(defaults(), 100.0);
    const detect::BandPass &filter = settings.filter;
    const int64_t n = 150001, short_begin = 70000, short_end = 70040, long_begin = 100000;
    const int64_t long_end = long_begin + settings.bridge + 1;
    std::vector<double> x = onset_test::normal_noise(static_cast<size_t>(n), 7);
    detect::LookbackStore store(detect::channel_columns, 1024);
    Collected out(store);
    detect::BandPassStream stream(filter, settings.filter_blocks.get(), settings.bridge, store);
    // Stretches of odd lengths, cut at the gaps; some given as a repeated
    // value.
    x[20000] = x[20001] = x[20002] = 0.25;
    std::mt19937 random(7);
    for (int64_t i = 0; i < n;) {
        if (i == short_begin) i = short_end;
        if (i == long_begin) i = long_end;
        int64_t end = std::min<int64_t>(n, i + 1 + static_cast<int64_t>(random() % 3000));
        if (i < 20000) end = std::min<int64_t>(end, 20000);
        if (i < short_begin) end = std::min(end, short_begin);
        else if (i < long_begin) end = std::min(end, long_begin);
        if (i == 20000) stream.take_repeated(i, 0.25, 3, out), end = 20003;
        else stream.take(i, x.data() + i, static_cast<size_t>(end - i), out);
        if (random() % 4 == 0) stream.compute(false, out);
        i = end;
    }
    stream.end_segment(out);
    EXPECT_EQ(out.ends, 2);

    // Input sample i for an output of the segment before the long gap or after.
    const auto input = [&](int64_t i, bool later) {
        const int64_t lo = later ? long_end : 0, hi = later ? n - 1 : long_begin - 1;
        i = std::clamp(i, lo, hi);
        if (i < short_begin || i >= short_end) return x[static_cast<size_t>(i)];
        const double a = x[short_begin - 1], b = x[short_end];
        return a + (b - a) * (static_cast<double>(i - (short_begin - 1)) / static_cast<double>(short_end - short_begin + 1));
    };
    for (int64_t i = 0; i < n; i += (i % 65536 < 200 || std::abs(i - long_begin) < 300) ? 1 : 97) {
        const bool gap = (i >= short_begin && i < short_end) || (i >= long_begin && i < long_end);
        if (gap) {
            if (i < long_begin) { ASSERT_TRUE(std::isnan(out.values[static_cast<size_t>(i)])) << i; }
            continue;
        }
        double sum = 0.0;
        for (size_t k = 0; k < filter.kernel.size(); ++k)
            sum += filter.kernel[k] * input(i + static_cast<int64_t>(k) - filter.center, i >= long_end);
        ASSERT_NEAR(out.values[static_cast<size_t>(i)], sum, 1e-9) << "sample " << i;
    }
}

TEST(DetectBandPass, PassesTheBandAndDampsOutside)
{
    const double rate = 100.0;
    const detect::BandPass filter = detect::make_bandpass(rate, 2.0, 20.0, 4);
    EXPECT_EQ(filter.kernel.size() % 2, 1u);
    EXPECT_NEAR(static_cast<double>(filter.kernel.size()), detect::bandpass_length(rate, 2.0, 20.0, 4), 2.0);
    // From half an octave above fmax down to fmin at least.
    const detect::Ladder ladder = detect::scale_ladder(rate, 2.0, 20.0, 4);
    EXPECT_NEAR(ladder.first, detect::scale_for_frequency(rate, 20.0 * std::sqrt(2.0)), 1e-12);
    const double widest = ladder.first * std::exp2((ladder.count - 1.0) / 4.0);
    EXPECT_GE(widest, detect::scale_for_frequency(rate, 2.0));
    EXPECT_LT(widest, detect::scale_for_frequency(rate, 2.0 / std::exp2(0.25)));
    for (double f = 2.0; f <= 20.0; f *= 1.25) {
        const double gain = detect::bandpass_gain(filter, rate, f);
        EXPECT_GT(gain, 0.65) << f << " Hz";
        EXPECT_LT(gain, 1.3) << f << " Hz";
    }
    EXPECT_LT(detect::bandpass_gain(filter, rate, 0.3), 0.1);
    EXPECT_LT(detect::bandpass_gain(filter, rate, 49.0), 0.2);
    EXPECT_LT(detect::bandpass_gain(filter, rate, 0.0), 1e-4);  // next to no offset passes
}

// The strength of one run from pieces equals the max-jump, by a direct
// scan, of the kurtosis of the whole run in one library call (up to the
// rounding of the running sums), over [h, n - h).
TEST(DetectStrength, PiecesMatchOneCallAndADirectScan)
{
    onset_detect_options options = defaults();
    options.kurtosis_window = 0.51;
    options.jump_window = 0.31;
    const detect::RateSettings settings(options, 100.0);
    const int64_t first = 5 * settings.piece - 777, n = 3 * settings.piece + 1234;
    std::vector<double> x = onset_test::normal_noise(static_cast<size_t>(n), 11);
    for (int64_t i = n / 2; i < n / 2 + 100; ++i) x[static_cast<size_t>(i)] *= 30.0;
    detect::LookbackStore store(detect::channel_columns, 1024);
    Collected out(store);
    detect::StrengthStream stream(settings, store, out);
    store.reset(first);
    for (int64_t i = 0; i < n;) {
        const int64_t take = std::min<int64_t>(n - i, 1 + (i * 7919) % 5000);
        write(store, Column::filtered, first + i, x.data() + i, static_cast<size_t>(take));
        stream.filtered(first + i, static_cast<size_t>(take));
        i += take;
    }
    stream.segment_end();
    ASSERT_EQ(out.ends, 1);

    const int64_t h = settings.windows.kurtosis / 2, j = settings.windows.jump / 2;
    std::vector<double> kurtosis(static_cast<size_t>(n));
    trace_movkurtosis(kurtosis.data(), x.data(), static_cast<uint32_t>(n), settings.windows.kurtosis);
    ASSERT_EQ(out.values.size(), static_cast<size_t>(first + n - h));
    for (int64_t i = h; i < n - h; ++i) {
        const int64_t lo = std::max(h, i - j), hi = std::min(n - h - 1, i + j);
        int64_t low = lo, high = lo;
        for (int64_t k = lo; k <= hi; ++k) {
            if (kurtosis[static_cast<size_t>(k)] < kurtosis[static_cast<size_t>(low)]) low = k;
            if (kurtosis[static_cast<size_t>(k)] > kurtosis[static_cast<size_t>(high)]) high = k;
        }
        const double jump = high > low ? kurtosis[static_cast<size_t>(high)] - kurtosis[static_cast<size_t>(low)]
                                       : kurtosis[static_cast<size_t>(low)] - kurtosis[static_cast<size_t>(high)];
        const size_t at = static_cast<size_t>(first + i);
        ASSERT_NEAR(out.kurtosis[at], kurtosis[static_cast<size_t>(i)], 1e-9) << i;
        ASSERT_NEAR(out.values[at], jump, 1e-9) << i;
    }
    EXPECT_TRUE(std::isnan(out.values[static_cast<size_t>(first + h - 1)]));

    // A run shorter than both windows gives no strength, only its end.
    detect::LookbackStore short_store(detect::channel_columns, 1024);
    Collected none(short_store);
    detect::StrengthStream short_run(settings, short_store, none);
    short_store.reset(0);
    write(short_store, Column::filtered, 0, x.data(), settings.needed_run() - 1);
    write(short_store, Column::filtered, static_cast<int64_t>(settings.needed_run()) - 1, &nan, 1);
    short_run.filtered(0, settings.needed_run());
    EXPECT_TRUE(none.values.empty());
    EXPECT_EQ(none.ends, 1);
}

// The AIC split against a direct two-pass variance of every split, on
// noise that grows by a random factor at a random sample.
TEST(DetectPicker, AicSplitMatchesADirectComputation)
{
    std::mt19937_64 random(9);
    for (int trial = 0; trial < 200; ++trial) {
        const size_t n = 20 + random() % 200, least = 2 + random() % 8, change = random() % n;
        std::vector<double> x = onset_test::normal_noise(random, n, 1e3 * static_cast<double>(trial % 3));
        for (size_t i = change; i < n; ++i) x[i] *= 1.0 + static_cast<double>(random() % 20);
        const auto log_variance = [&](size_t a, size_t b) {
            long double mean = 0, spread = 0;
            for (size_t i = a; i < b; ++i) mean += x[i];
            mean /= static_cast<long double>(b - a);
            for (size_t i = a; i < b; ++i) spread += (x[i] - mean) * (x[i] - mean);
            return std::log(std::max<long double>(spread / static_cast<long double>(b - a), 1e-300L));
        };
        const detect::AicOnset onset = detect::aic_onset(x.data(), n, least);
        if (n < 2 * least + 1) {
            EXPECT_EQ(onset.index, n / 2);
            continue;
        }
        size_t best = least;
        long double least_aic = INFINITY;
        for (size_t k = least; k + least <= n; ++k) {
            const long double aic = k * log_variance(0, k) + (n - k) * log_variance(k, n);
            if (aic < least_aic - 1e-9L) least_aic = aic, best = k;
        }
        EXPECT_EQ(onset.index, best) << "trial " << trial;
    }
}

TEST(DetectPicker, OnePerDeadTimeAtTheRiseHoweverTheStrengthComes)
{
    // Three excursions above the threshold, the second 1 s after the first
    // and stronger, the third 6 s later. The first one's kurtosis rises at
    // 300, which puts the rise's pick at 350; the band-passed samples grow
    // tenfold at 341, where the pick moves to, a P. The second is the same
    // arrival again, and dropped. The band-passed samples grow tenfold again
    // at 905, inside the first one's wave train: the third is its S, and the
    // search after the P finds that S too.
    const detect::RateSettings settings(defaults(), 100.0);  // windows 101, 101, dead time 200
    std::vector<double> strength(2000, 0.5), kurtosis(2000, 3.0);
    std::vector<double> filtered = onset_test::normal_noise(2000, 3);
    for (size_t i = 341; i < 2000; ++i) filtered[i] *= i < 905 ? 10.0 : 100.0;
    for (size_t i = 300; i < 360; ++i) kurtosis[i] = 23.0;
    for (size_t i = 250; i < 340; ++i) strength[i] = 20.0;
    for (size_t i = 350; i < 420; ++i) strength[i] = 25.0;
    for (size_t i = 900; i < 950; ++i) strength[i] = 9.0;
    for (const size_t step : {size_t{1}, size_t{13}, size_t{2000}}) {
        detect::OnsetPicker picker(settings, 8.0, 3.0, 5.0);
        detect::LookbackStore store(detect::channel_columns, 1024);
        store.reset(0);
        for (size_t i = 0; i < strength.size(); i += step) {
            const size_t n = std::min(step, strength.size() - i);
            const auto at = static_cast<int64_t>(i);
            write(store, Column::filtered, at, filtered.data() + i, n);
            write(store, Column::strength, at, strength.data() + i, n);
            write(store, Column::kurtosis, at, kurtosis.data() + i, n);
            picker.samples(store, at, n);
            picker.strength(store, at, n);
            store.trim_before(picker.needs_from());
        }
        picker.run_end(store);
        const auto onsets = picker.take_onsets();
        ASSERT_EQ(onsets.size(), 3u) << step;
        EXPECT_EQ(onsets[0].index, 341);
        EXPECT_EQ(onsets[0].phase, 'P');
        EXPECT_GE(onsets[0].half_width, 1);
        EXPECT_LE(onsets[0].half_width, 5);
        EXPECT_EQ(onsets[0].strength, 20.0);
        EXPECT_EQ(onsets[1].index, 905);
        EXPECT_EQ(onsets[1].phase, 'S');
        EXPECT_EQ(onsets[1].train, 341);
        EXPECT_EQ(onsets[1].strength, 9.0);
        EXPECT_FALSE(onsets[1].searched);
        EXPECT_EQ(onsets[2].index, 905);
        EXPECT_EQ(onsets[2].phase, 'S');
        EXPECT_EQ(onsets[2].train, 341);
        EXPECT_TRUE(onsets[2].searched);
    }
}

// Block energies, however the samples come, against direct sums over the
// blocks that lie wholly inside the range asked for.
TEST(DetectEnergy, BlockMeansAndQuartileMatchDirectSums)
{
    const std::vector<double> x = onset_test::normal_noise(5000, 4);
    const int64_t first = 1234567, block = 10;
    detect::EnergyHistory energy(block);
    for (size_t i = 0; i < x.size();) {
        const size_t n = std::min<size_t>(x.size() - i, 1 + (i * 31) % 97);
        energy.add(first + static_cast<int64_t>(i), x.data() + i, n);
        i += n;
    }
    std::mt19937_64 random(2);
    for (int trial = 0; trial < 100; ++trial) {
        const int64_t from = first + static_cast<int64_t>(random() % 4000), to = from + 5 + static_cast<int64_t>(random() % 900);
        double squares = 0.0;
        int64_t count = 0;
        std::vector<double> means;
        for (int64_t b = (from + block - 1) / block; (b + 1) * block <= to; ++b) {
            double sum = 0.0;
            for (int64_t i = b * block; i < (b + 1) * block; ++i) sum += x[static_cast<size_t>(i - first)] * x[static_cast<size_t>(i - first)];
            squares += sum;
            count += block;
            means.push_back(sum / static_cast<double>(block));
        }
        if (count == 0) {
            EXPECT_EQ(energy.mean_square(from, to, 1), -1.0);
            continue;
        }
        EXPECT_NEAR(energy.mean_square(from, to, 1), squares / static_cast<double>(count), 1e-12);
        std::sort(means.begin(), means.end());
        EXPECT_EQ(energy.quantile(from, to, 0.25, 1), means[static_cast<size_t>(0.25 * static_cast<double>(means.size() - 1))]);
        EXPECT_EQ(energy.mean_square(from, to, count + 1), -1.0);
    }
}

// A later capture's picks: a late station joins the earlier event, a second
// rise on a station with a P becomes its S, anything else stays.
TEST(DetectGrouping, LaterCapturesJoinTheEventTheyBelongTo)
{
    const auto pick = [](int32_t channel, int64_t time) { return onset_pick{channel, 'P', time, 5.0, 0.01, 0}; };
    const std::vector<int32_t> station{0, 1, 2, 3, 4};
    detect::Event earlier{0, 0, true, {pick(0, 1'000'000), pick(1, 1'500'000)}};
    detect::Event later{0, 0, true, {pick(2, 3'500'000), pick(1, 4'000'000), pick(3, 9'000'000)}};
    detect::settle(earlier, station);
    detect::settle(later, station);
    ASSERT_TRUE(detect::merge_later_picks(earlier, later, station, 4'000'000, 8'000'000));
    ASSERT_EQ(earlier.picks.size(), 4u);
    EXPECT_EQ(earlier.picks[2].channel, 2);  // within 4 s of the earliest pick: a late station
    EXPECT_EQ(earlier.picks[2].phase, 'P');
    EXPECT_EQ(earlier.picks[3].channel, 1);  // its station's second arrival: the S
    EXPECT_EQ(earlier.picks[3].phase, 'S');
    ASSERT_EQ(later.picks.size(), 1u);       // too late for either
    EXPECT_EQ(later.picks[0].channel, 3);
    detect::settle(earlier, station);
    EXPECT_EQ(earlier.stations, 3);
    EXPECT_EQ(earlier.earliest, 1'000'000);
    // A single-station event takes no S from a later capture: its channel's
    // own wave train decides that.
    detect::Event single{0, 0, true, {pick(0, 1'000'000)}}, next{0, 0, true, {pick(0, 2'000'000)}};
    detect::settle(single, station);
    EXPECT_FALSE(detect::merge_later_picks(single, next, station, 4'000'000, 8'000'000));
}

// Blocks cut at quiet spans group exactly as one call of the library over
// every onset, whatever horizons the grouping is asked at.
TEST(DetectGrouping, BlocksEqualOneCallOverEverything)
{
    std::mt19937_64 random(5);
    const int channels = 12;
    std::vector<detect::TimedOnset> onsets;
    std::vector<std::vector<int64_t>> by_channel(channels);
    for (int cluster = 0; cluster < 300; ++cluster) {
        const int64_t centre = 1'000'000'000 + cluster * static_cast<int64_t>(random() % 9'000'000 + 1'000'000);
        for (int c = 0; c < channels; ++c)
            if (random() % 3 != 0) {
                const int64_t t = centre + static_cast<int64_t>(random() % 5'000'000);
                if (!by_channel[c].empty() && t <= by_channel[c].back()) continue;
                by_channel[c].push_back(t);
                onsets.push_back({t, c, static_cast<double>(c), 'P', 0.01, t, c, true, 0, false});
            }
    }
    std::vector<int32_t> rank(channels), station(channels);
    for (int c = 0; c < channels; ++c) rank[c] = channels - 1 - c, station[c] = c / 2;
    detect::EventGrouping grouping(2.0, 2, 0.0);
    grouping.set_channels(rank, station, station);
    std::deque<detect::Event> events;
    // Batches in time order, each shuffled; the horizon is the next batch's
    // first onset.
    std::sort(onsets.begin(), onsets.end(), [](const auto &a, const auto &b) { return a.time < b.time; });
    for (size_t i = 0; i < onsets.size(); i += 100) {
        const size_t end = std::min(onsets.size(), i + 100);
        std::vector<detect::TimedOnset> batch(onsets.begin() + static_cast<long>(i), onsets.begin() + static_cast<long>(end));
        std::shuffle(batch.begin(), batch.end(), random);
        grouping.add(batch);
        if (end < onsets.size()) grouping.group(onsets[end].time, events);
    }
    grouping.group(std::numeric_limits<int64_t>::max(), events);
    EXPECT_EQ(grouping.pending(), 0u);

    // One call: traces in rank order, times from one origin.
    std::vector<std::vector<Pick>> picks(channels);
    std::vector<int> channel_of(channels);
    for (int c = 0; c < channels; ++c) channel_of[rank[c]] = c;
    for (int r = 0; r < channels; ++r)
        for (int64_t t : by_channel[channel_of[r]]) {
            Pick p{};
            p.time = static_cast<double>(t - 1'000'000'000) * 1e-6;
            picks[r].push_back(p);
        }
    std::vector<const Pick *> arrays;
    std::vector<int32_t> counts;
    std::vector<std::vector<uint8_t>> taken(channels);
    std::vector<uint8_t *> taken_arrays;
    for (int r = 0; r < channels; ++r) {
        arrays.push_back(picks[r].data());
        counts.push_back(static_cast<int32_t>(picks[r].size()));
        taken[r].assign(picks[r].size(), 0);
        taken_arrays.push_back(taken[r].data());
    }
    std::vector<double> tolerances(channels, 2.0);
    std::vector<const Pick *> members(onsets.size() * channels);
    std::vector<int32_t> member_traces(onsets.size() * channels), sizes(onsets.size());
    const CaptureSet set{members.data(), member_traces.data(), sizes.data(), channels};
    const int32_t found = captures(&set, arrays.data(), counts.data(), tolerances.data(), taken_arrays.data());
    std::vector<std::vector<int64_t>> expected;
    for (int32_t g = 0; g < found; ++g) {
        std::vector<int64_t> times;
        std::vector<int> stations;
        for (int32_t s = 0; s < sizes[g]; ++s) {
            const size_t slot = static_cast<size_t>(g) * channels + static_cast<size_t>(s);
            const int r = member_traces[slot];
            times.push_back(by_channel[channel_of[r]][static_cast<size_t>(members[slot] - picks[r].data())]);
            stations.push_back(station[channel_of[r]]);
        }
        std::sort(stations.begin(), stations.end());
        if (std::unique(stations.begin(), stations.end()) - stations.begin() >= 2) expected.push_back(times);
    }
    std::sort(expected.begin(), expected.end(), [](const auto &a, const auto &b) {
        return *std::min_element(a.begin(), a.end()) < *std::min_element(b.begin(), b.end());
    });
    ASSERT_EQ(events.size(), expected.size());
    for (size_t e = 0; e < events.size(); ++e) {
        std::vector<int64_t> times;
        for (const onset_pick &p : events[e].picks) times.push_back(p.time);
        EXPECT_EQ(times, expected[e]) << "event " << e;
        EXPECT_EQ(events[e].earliest, *std::min_element(times.begin(), times.end()));
    }
}

}  // namespace
