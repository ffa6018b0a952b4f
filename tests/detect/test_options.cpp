// The table of options against the record it describes and a direct
// statement of each range, and the stages' reach against their settings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>

#include "bandpass_design.h"
#include "onset_detect.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct Field {
    const char *name;
    size_t offset;
    int32_t type;
    double default_value, lowest, highest;
    bool lowest_included;
};

// The record's fields in order, with the defaults and ranges users know.
const Field fields[] = {
    {"fmin", offsetof(onset_detect_options, fmin), ONSET_OPTION_REAL, 2, 0, inf, false},
    {"fmax", offsetof(onset_detect_options, fmax), ONSET_OPTION_REAL, 20, 0, inf, false},
    {"voices", offsetof(onset_detect_options, voices), ONSET_OPTION_UINT32, 4, 1, 32, true},
    {"kurtosis_window", offsetof(onset_detect_options, kurtosis_window), ONSET_OPTION_REAL, 1, 0, 3600, false},
    {"jump_window", offsetof(onset_detect_options, jump_window), ONSET_OPTION_REAL, 0, 0, 3600, true},
    {"threshold", offsetof(onset_detect_options, threshold), ONSET_OPTION_REAL, 3, 0, inf, false},
    {"dead_time", offsetof(onset_detect_options, dead_time), ONSET_OPTION_REAL, 2, 0, 86400, false},
    {"tolerance", offsetof(onset_detect_options, tolerance), ONSET_OPTION_REAL, 2, 0, 86400, false},
    {"min_stations", offsetof(onset_detect_options, min_stations), ONSET_OPTION_INT32, 3, 1, 2147483647, true},
    {"min_snr", offsetof(onset_detect_options, min_snr), ONSET_OPTION_REAL, 2, 0, inf, false},
    {"event_snr", offsetof(onset_detect_options, event_snr), ONSET_OPTION_REAL, 5, 0, inf, false},
};

double field_value(const onset_detect_options &options, const Field &field)
{
    const char *at = reinterpret_cast<const char *>(&options) + field.offset;
    if (field.type == ONSET_OPTION_INT32) return *reinterpret_cast<const int32_t *>(at);
    if (field.type == ONSET_OPTION_UINT32) return *reinterpret_cast<const uint32_t *>(at);
    return *reinterpret_cast<const double *>(at);
}

TEST(DetectOptions, TableDescribesEveryFieldWithItsDefault)
{
    ASSERT_EQ(onset_detect_option_count(), std::size(fields));
    EXPECT_EQ(onset_detect_option(std::size(fields)), nullptr);
    onset_detect_options options;
    onset_detect_defaults(&options);
    for (size_t i = 0; i < std::size(fields); ++i) {
        const onset_option_info *option = onset_detect_option(i);
        ASSERT_NE(option, nullptr);
        EXPECT_STREQ(option->name, fields[i].name);
        EXPECT_EQ(option->offset, fields[i].offset) << fields[i].name;
        EXPECT_EQ(option->type, fields[i].type) << fields[i].name;
        EXPECT_EQ(option->default_value, fields[i].default_value) << fields[i].name;
        EXPECT_EQ(field_value(options, fields[i]), fields[i].default_value) << fields[i].name;
        EXPECT_GT(std::string(option->help).size(), 20u) << fields[i].name;
    }
}

TEST(DetectOptions, ChecksAcceptExactlyTheRanges)
{
    std::mt19937_64 random(7);
    const double specials[] = {0.0, -0.0, 1.0, 32.0, 33.0, 3600.0, 3600.5, 86400.0, 86401.0, 2147483647.0,
                               2147483648.0, -1.0, 0.5, inf, -inf, std::numeric_limits<double>::quiet_NaN()};
    for (size_t i = 0; i < std::size(fields); ++i) {
        const Field &f = fields[i];
        std::vector<double> values(std::begin(specials), std::end(specials));
        for (int k = 0; k < 200; ++k) {
            const double magnitude = std::exp2(std::uniform_real_distribution<double>(-10, 40)(random));
            const double value = (random() % 4 == 0 ? -1 : 1) * magnitude;
            values.push_back(random() % 2 ? value : std::round(value));
        }
        for (const double value : values) {
            const bool whole = f.type == ONSET_OPTION_REAL || value == std::floor(value);
            const bool above = f.lowest_included ? value >= f.lowest : value > f.lowest;
            const bool expected = std::isfinite(value) && above && value <= f.highest && whole;
            char message[128] = "";
            EXPECT_EQ(onset_detect_option_check(i, value, message, sizeof message) == 0, expected)
                << f.name << " = " << value << ": " << message;
            // The whole record's check says the same and names the option;
            // only values the field holds can be set in it.
            if (f.type != ONSET_OPTION_REAL && (!std::isfinite(value) || !whole || value < -2147483648.0 ||
                                                value > 4294967295.0))
                continue;
            onset_detect_options options;
            onset_detect_defaults(&options);
            char *at = reinterpret_cast<char *>(&options) + f.offset;
            if (f.type == ONSET_OPTION_INT32) {
                if (value > 2147483647.0) continue;
                *reinterpret_cast<int32_t *>(at) = static_cast<int32_t>(value);
            } else if (f.type == ONSET_OPTION_UINT32) {
                if (value < 0) continue;
                *reinterpret_cast<uint32_t *>(at) = static_cast<uint32_t>(value);
            } else {
                *reinterpret_cast<double *>(at) = value;
            }
            // fmin must stay below fmax for the record to pass.
            const bool crosses = (std::string(f.name) == "fmin" && value >= 20) ||
                                 (std::string(f.name) == "fmax" && value <= 2);
            const int status = onset_detect_check(&options, message, sizeof message);
            EXPECT_EQ(status == 0, expected && !crosses) << f.name << " = " << value;
            if (status != 0) {
                EXPECT_NE(std::string(message).find(f.name), std::string::npos) << message;
            }
        }
    }
    char message[64];
    EXPECT_EQ(onset_detect_option_check(99, 1.0, message, sizeof message), ONSET_DETECT_INVALID);
    EXPECT_EQ(onset_detect_check(nullptr, message, sizeof message), ONSET_DETECT_INVALID);
}

TEST(DetectOptions, ReachFollowsTheSettingsAndItsBoundHoldsAtEveryRate)
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    onset_reach reach;
    ASSERT_EQ(onset_detect_reach(&options, 100.0, &reach, nullptr, 0), 0);
    // A piece of 2048 samples and windows of 101; 10 s and 0.2 s of noise.
    EXPECT_DOUBLE_EQ(reach.strength, (2048 + 101 + 101) / 100.0);
    EXPECT_DOUBLE_EQ(reach.bandpass, detect::bandpass_length(100.0, 2.0, 20.0, 4) / 100.0);
    EXPECT_DOUBLE_EQ(reach.noise, 10.2);
    EXPECT_DOUBLE_EQ(reach.dead_time, 2.0);
    EXPECT_DOUBLE_EQ(reach.grouping, 20.0);
    EXPECT_DOUBLE_EQ(reach.wave_train, 31.0);
    EXPECT_DOUBLE_EQ(reach.wait, 31.0);
    EXPECT_DOUBLE_EQ(reach.look_back, reach.strength + reach.bandpass + reach.noise + reach.dead_time +
                                          reach.wave_train + reach.grouping);

    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 300; ++trial) {
        onset_detect_defaults(&options);
        options.fmax = 0.5 + 40 * unit(random);
        options.fmin = options.fmax * (0.01 + 0.9 * unit(random));
        options.voices = 1 + static_cast<uint32_t>(random() % 32);
        options.kurtosis_window = 0.05 + 20 * unit(random);
        options.jump_window = trial % 2 ? 0.0 : 0.05 + 5 * unit(random);
        options.dead_time = 0.1 + 5 * unit(random);
        onset_reach bound, exact;
        ASSERT_EQ(onset_detect_reach(&options, 0.0, &bound, nullptr, 0), 0);
        const double rate = 2.0 * options.fmax * (trial % 3 ? 1.0 + 1e-9 : 1.0 + 20 * unit(random));
        ASSERT_EQ(onset_detect_reach(&options, rate, &exact, nullptr, 0), 0) << rate;
        EXPECT_LE(exact.strength, bound.strength) << rate;
        EXPECT_LE(exact.bandpass, bound.bandpass) << rate;
        EXPECT_LE(exact.noise, bound.noise) << rate;
        EXPECT_LE(exact.dead_time, bound.dead_time) << rate;
        EXPECT_LE(exact.look_back, bound.look_back) << rate;
    }
    EXPECT_EQ(onset_detect_reach(&options, 2.0 * options.fmax, &reach, nullptr, 0), ONSET_DETECT_RATE);
    EXPECT_EQ(onset_detect_reach(&options, 100.0, nullptr, nullptr, 0), ONSET_DETECT_INVALID);
    options.voices = 0;
    EXPECT_EQ(onset_detect_reach(&options, 100.0, &reach, nullptr, 0), ONSET_DETECT_INVALID);
}

}  // namespace
