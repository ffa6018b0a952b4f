// The detector on its built-in network, stage by stage.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "bandpass.h"
#include "network_fixture.h"

namespace {

using detect_test::default_network;

TEST(DetectSynthetic, FindsEveryEventAtItsArrivalsAndNoGlitch)
{
    const auto &network = default_network();
    const detect::Options options;
    ASSERT_GE(network.traces.size(), 6u);
    ASSERT_GE(network.events.size(), 3u);
    ASSERT_GE(network.glitches.size(), 2u);
    detect::check_traces(network.traces, options);
    const detect::Detection detection = detect::detect_events(network.traces, options, false);

    // Every station picks every event: 8 picks, each within 4 samples.
    detect_test::expect_truth(detection.events, network, detect_test::identity(8), 8);
    for (const detect::Event &event : detection.events) EXPECT_EQ(event.stations, 8);

    for (const detect::Glitch &glitch : network.glitches) {
        // The glitch does make an onset on its own station...
        const detect::Trace &trace = network.traces[glitch.station];
        bool picked = false;
        for (const detect::Onset &onset : detection.onsets[glitch.station])
            picked |= std::llabs(trace.time_of(static_cast<double>(onset.index)) - glitch.time) < 100000;
        EXPECT_TRUE(picked) << "glitch on station " << glitch.station;
        // ...but joins no event.
        for (const detect::Event &event : detection.events)
            for (const detect::EventPick &pick : event.picks)
                EXPECT_GT(std::llabs(pick.time - glitch.time), 1000000);
    }
}

TEST(DetectSynthetic, StationCountAndToleranceGovernEvents)
{
    const auto &network = default_network();
    detect::Options options;
    options.min_stations = 9;  // more than the network has
    EXPECT_TRUE(detect::detect_events(network.traces, options, false).events.empty());

    // A tolerance shorter than the moveout splits each event.
    options.min_stations = 1;
    options.tolerance = 0.05;
    const auto split = detect::detect_events(network.traces, options, false).events;
    EXPECT_GT(split.size(), network.events.size() + network.glitches.size());
    for (const detect::Event &event : split)
        for (const detect::EventPick &pick : event.picks)
            EXPECT_LE(std::llabs(pick.time - event.picks.front().time), 50000);
}

// The band-pass against a direct sum over the kernel, with the trace held
// at its edge samples and gaps bridged by a straight line. The trace spans
// several of the band-pass's work blocks.
TEST(DetectBandPass, MatchesDirectConvolutionAcrossBlocksAndGaps)
{
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    detect::Trace trace;
    trace.rate = 100.0;
    trace.samples.resize(150001);
    for (double &x : trace.samples) x = normal(random);
    const size_t gap_begin = 70000, gap_end = 70400;
    for (size_t i = gap_begin; i < gap_end; ++i) trace.samples[i] = std::numeric_limits<double>::quiet_NaN();

    const detect::BandPass filter = detect::make_bandpass(100.0, 2.0, 20.0, 4);
    const auto out = detect::band_pass({trace}, {&filter})[0];

    const auto filled = [&](long i) {
        const long n = static_cast<long>(trace.samples.size());
        i = std::clamp(i, 0L, n - 1);
        if (i < static_cast<long>(gap_begin) || i >= static_cast<long>(gap_end)) return trace.samples[i];
        const double a = trace.samples[gap_begin - 1], b = trace.samples[gap_end];
        const double f = static_cast<double>(i - (static_cast<long>(gap_begin) - 1)) /
                         static_cast<double>(gap_end - gap_begin + 1);
        return a + (b - a) * f;
    };
    const size_t checks[] = {0, 1, 50, 65535, 65536, 65600, 69990, 70500, 131072, 150000};
    for (size_t i : checks) {
        double sum = 0.0;
        for (size_t k = 0; k < filter.kernel.size(); ++k)
            sum += filter.kernel[k] * filled(static_cast<long>(i + k) - filter.center);
        EXPECT_NEAR(out[i], sum, 1e-9) << "sample " << i;
    }
    for (size_t i = gap_begin; i < gap_end; ++i) ASSERT_TRUE(std::isnan(out[i]));
}

TEST(DetectBandPass, PassesTheBandAndDampsOutside)
{
    const double rate = 100.0;
    const detect::BandPass filter = detect::make_bandpass(rate, 2.0, 20.0, 4);
    EXPECT_EQ(filter.kernel.size() % 2, 1u);
    EXPECT_NEAR(static_cast<double>(filter.kernel.size()), detect::bandpass_length(rate, 2.0, 20.0, 4), 2.0);
    // From half an octave above fmax down to fmin at least.
    EXPECT_NEAR(filter.scales.front(), detect::scale_for_frequency(rate, 20.0 * std::sqrt(2.0)), 1e-12);
    EXPECT_GE(filter.scales.back(), detect::scale_for_frequency(rate, 2.0));
    EXPECT_LT(filter.scales.back(), detect::scale_for_frequency(rate, 2.0 / std::exp2(0.25)));
    for (double f = 2.0; f <= 20.0; f *= 1.25) {
        const double gain = detect::bandpass_gain(filter, rate, f);
        EXPECT_GT(gain, 0.65) << f << " Hz";
        EXPECT_LT(gain, 1.3) << f << " Hz";
    }
    EXPECT_LT(detect::bandpass_gain(filter, rate, 0.3), 0.1);
    EXPECT_LT(detect::bandpass_gain(filter, rate, 49.0), 0.2);
    EXPECT_LT(detect::bandpass_gain(filter, rate, 0.0), 1e-4);  // next to no offset passes
}

TEST(DetectOnsets, OnePerDeadTimeAtTheRise)
{
    // Three excursions above the threshold, the second 1 s after the first
    // and stronger, the third 6 s later: the dead time (2 s) keeps the first
    // of the close pair.
    const detect::Windows windows{101, 101, 200};
    std::vector<double> strength(2000, 0.5), kurtosis(2000, 3.0);
    for (size_t i = 0; i < kurtosis.size(); ++i) kurtosis[i] = 3.0 + (i >= 300 ? 20.0 : 0.0) -
                                                               (i >= 360 ? 20.0 : 0.0);
    for (size_t i = 250; i < 340; ++i) strength[i] = 20.0;
    for (size_t i = 350; i < 420; ++i) strength[i] = 25.0;
    for (size_t i = 900; i < 950; ++i) strength[i] = 9.0;
    const auto onsets = detect::pick_onsets(strength, kurtosis, windows, 8.0);
    ASSERT_EQ(onsets.size(), 2u);
    EXPECT_EQ(onsets[0].index, 300u + 50u);  // the rise, plus half a kurtosis window
    EXPECT_EQ(onsets[0].strength, 20.0);
    EXPECT_EQ(onsets[1].strength, 9.0);
    EXPECT_TRUE(detect::pick_onsets(strength, kurtosis, windows, 30.0).empty());
}

}  // namespace
