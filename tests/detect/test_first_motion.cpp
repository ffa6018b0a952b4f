// First motions through the engine's C interface: synthetic arrivals of
// known sign on noise, an offset and a microseism, and the same traces
// turned over.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "network_fixture.h"

namespace {

constexpr double rate = 100.0;
constexpr double pi = 3.14159265358979323846;
constexpr int64_t arrival = 3000;  // sample of the arrival, 30 s into the trace

// A minute of unit Gaussian noise, an offset and a 0.15 Hz microseism 20
// times the noise, and from `arrival` on a wave train of amplitude `size`
// (its sign the first motion's). An impulsive train starts at its full
// amplitude; an emergent one grows over 3 s.
std::vector<double> trace(std::mt19937 &random, double size, bool emergent)
{
    std::normal_distribution<double> noise;
    std::uniform_real_distribution<double> uniform;
    const double offset = 2000.0 * (uniform(random) - 0.5), phase = 2.0 * pi * uniform(random);
    const double frequency = 4.0 + 8.0 * uniform(random);
    std::vector<double> x(6000);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate, after = t - static_cast<double>(arrival) / rate;
        x[i] = offset + noise(random) + 20.0 * std::sin(2.0 * pi * 0.15 * t + phase);
        if (after >= 0.0)
            x[i] += size * std::min(1.0, emergent ? after / 3.0 : 1.0) * std::sin(2.0 * pi * frequency * after) *
                    std::exp(-after / 2.0);
    }
    return x;
}

// The P pick at the arrival (within 0.2 s); phase 0 when there is none.
onset_pick pick_at_arrival(const std::vector<double> &x)
{
    onset_detect_options options = detect_test::default_options();
    options.min_stations = 1;
    onset_detector *d = onset_detector_create(&options, nullptr, 0);
    EXPECT_EQ(onset_detector_add_channel(d, "XX.S01..HHZ", rate), 0);
    EXPECT_EQ(onset_detector_feed(d, 0, detect_test::time_of(0), x.data(), x.size()), 0);
    EXPECT_EQ(onset_detector_flush(d), 0);
    std::vector<detect_test::FoundEvent> events;
    detect_test::take_events(d, events);
    onset_detector_destroy(d);
    onset_pick found{};
    for (const auto &event : events)
        for (const onset_pick &pick : event.picks)
            if (pick.phase == 'P' && std::llabs(pick.time - detect_test::time_of(arrival)) <= 200000) found = pick;
    return found;
}

TEST(DetectFirstMotion, SharpArrivalsGiveTheirSignAndEmergentOnesNone)
{
    std::mt19937 random(25);
    std::uniform_real_distribution<double> uniform;
    constexpr int traces = 24;
    int impulsive_clear = 0, emergent_clear = 0;
    for (int k = 0; k < traces; ++k) {
        // Arrivals 15 to 60 times the noise, up and down.
        const double size = (k % 2 ? -1.0 : 1.0) * (15.0 + 45.0 * uniform(random));
        const int32_t sign = size > 0.0 ? 'U' : 'D';
        const std::vector<double> x = trace(random, size, false);
        const onset_pick pick = pick_at_arrival(x);
        ASSERT_EQ(pick.phase, 'P') << "trace " << k;
        if (pick.polarity != 0) {
            EXPECT_EQ(pick.polarity, sign) << "trace " << k;
            EXPECT_LE(pick.uncertainty, 0.05) << "trace " << k;
            ++impulsive_clear;
        }
        // Turned over, every sample negated exactly: the same pick, the other motion.
        std::vector<double> over(x.size());
        for (size_t i = 0; i < x.size(); ++i) over[i] = -x[i];
        const onset_pick turned = pick_at_arrival(over);
        EXPECT_EQ(turned.time, pick.time) << "trace " << k;
        EXPECT_EQ(turned.polarity, pick.polarity == 'U' ? 'D' : pick.polarity == 'D' ? 'U' : 0) << "trace " << k;
        // The same train growing over seconds: where a pick is clear at all,
        // it has caught the train's first swing.
        const onset_pick emergent = pick_at_arrival(trace(random, size, true));
        EXPECT_TRUE(emergent.polarity == 0 || emergent.polarity == sign) << "trace " << k;
        emergent_clear += emergent.polarity != 0;
    }
    EXPECT_GE(impulsive_clear, traces / 3);
    EXPECT_LE(emergent_clear, traces / 10);
}

}  // namespace
