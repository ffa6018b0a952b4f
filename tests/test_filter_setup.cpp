// Scale ladder, wavelet lengths and output steps of the filter bank.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "golden.h"
#include "onset.h"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr std::uint32_t untouched = 0xdeadbeefu;

TEST(SetScales, LadderIsBuiltByRepeatedProducts)
{
    std::vector<double> scales(13, -1.0);
    setscales0(scales.data(), 12, 4, 1.0, 2.0);
    const double ratio = std::pow(2.0, 1.0 / 4.0);
    double expected = 1.0;
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(scales[i], expected) << i;
        expected = expected * ratio;
    }
    EXPECT_NEAR(scales[4], 2.0, 1e-15);
    EXPECT_NEAR(scales[8], 4.0, 1e-14);
    EXPECT_EQ(scales[12], -1.0);

    setscales0(scales.data(), 0, 4, 7.0, 2.0);
    EXPECT_EQ(scales[0], 1.0);
    setscales0(scales.data(), 1, 4, 7.0, 2.0);
    EXPECT_EQ(scales[0], 7.0);
    EXPECT_EQ(scales[1], ratio);
}

TEST(SetScales, ZeroVoicesGiveAnInfiniteExponent)
{
    double scales[2];
    setscales0(scales, 2, 0, 3.0, 2.0);
    EXPECT_EQ(scales[1], infinity);
    setscales0(scales, 2, 0, 3.0, 1.0);
    EXPECT_EQ(scales[1], 3.0);
    setscales0(scales, 2, 0, 3.0, 0.5);
    EXPECT_EQ(scales[1], 0.0);
}

TEST(SetWaveletLength, LengthsAreOddCappedAndTheTotalIsUncapped)
{
    const double scales[] = {1.0, 0.01, 0.0, 2.0, -0.0625, 0.125};
    std::uint32_t lengths[6];
    const std::uint32_t total = setwaveletlength0(lengths, scales, 6, 21);
    EXPECT_EQ(lengths[0], 17u);
    EXPECT_EQ(lengths[1], 3u);
    EXPECT_EQ(lengths[2], 1u);
    EXPECT_EQ(lengths[3], 21u);  // 33 capped
    EXPECT_EQ(lengths[4], 1u);   // -0.5 rounds up to -0
    EXPECT_EQ(lengths[5], 3u);
    EXPECT_EQ(total, 17u + 3u + 1u + 33u + 1u + 3u);

    std::uint32_t kept = untouched;
    EXPECT_EQ(setwaveletlength0(&kept, scales, 0, 21), 0u);
    EXPECT_EQ(kept, untouched);
}

TEST(SetWaveletLength, NegativeScalesStoreTheCapButEnterTheTotal)
{
    const double scales[] = {-1.0};
    std::uint32_t length = 0;
    const std::uint32_t total = setwaveletlength0(&length, scales, 1, 100);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(total, static_cast<std::uint32_t>(-15));
}

TEST(SetWaveletLength, OutOfRangeScalesCountAsMinusTwoToThe63)
{
    // -2^63 doubled wraps to 0 in 64 bits, so the length is 1.
    const double scales[] = {nan_value, infinity, -infinity, 0x1p60, -0x1p60, 0x1p59};
    std::uint32_t lengths[6];
    const std::uint32_t total = setwaveletlength0(lengths, scales, 6, 0xffffffffu);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(lengths[i], 1u) << i;
    // 8 * 2^59 = 2^62 is in range: 2 * 2^62 + 1 keeps only its low bits.
    EXPECT_EQ(lengths[5], 1u);
    EXPECT_EQ(total, 6u);

    const double large[] = {0x1p29 + 0.25}; // 8x = 2^32 + 2 -> 2^33 + 5 -> 5
    std::uint32_t length = 0;
    EXPECT_EQ(setwaveletlength0(&length, large, 1, 0xffffffffu), 5u);
    EXPECT_EQ(length, 5u);
}

TEST(SetSampling, FullRateWritesOnes)
{
    std::vector<std::uint32_t> steps(6, untouched);
    setsampling0(steps.data(), 5, 1, 3, 7, 4.0, 2.0, nan_value);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(steps[i], 1u);
    EXPECT_EQ(steps[5], untouched);
}

TEST(SetSampling, GroupsGrowByTheBaseAndNeverGoBelowOne)
{
    std::vector<std::uint32_t> steps(7, untouched);
    setsampling0(steps.data(), 0, 0, 3, 2, 4.0, 2.0, 0.5);
    const std::vector<std::uint32_t> expected = {2, 2, 2, 4, 4, 4, untouched};
    EXPECT_EQ(steps, expected);

    setsampling0(steps.data(), 0, 0, 1, 3, 4.0, 3.0, 0.1);
    EXPECT_EQ(steps[0], 1u); // 0.4
    EXPECT_EQ(steps[1], 1u); // 1.2000000000000002
    EXPECT_EQ(steps[2], 3u); // 3.6

    std::uint32_t kept = untouched;
    setsampling0(&kept, 9, 0, 0, 5, 4.0, 2.0, 0.5);
    EXPECT_EQ(kept, untouched);
}

TEST(SetSampling, OutOfRangeStepsGiveTheLowBitsOfMinusTwoToThe63)
{
    std::uint32_t steps[4];
    setsampling0(steps, 0, 0, 1, 4, 0x1p62, 2.0, 1.0); // 2^62, 2^63, 2^64, 2^65
    EXPECT_EQ(steps[0], 0u); // low 32 bits of 2^62
    EXPECT_EQ(steps[1], 0u); // out of range: -2^63
    EXPECT_EQ(steps[2], 0u);
    EXPECT_EQ(steps[3], 0u);

    setsampling0(steps, 0, 0, 1, 1, nan_value, 2.0, 1.0);
    EXPECT_EQ(steps[0], 0u);
    setsampling0(steps, 0, 0, 1, 2, -infinity, 2.0, 1.0);
    EXPECT_EQ(steps[0], 1u); // below 1
    setsampling0(steps, 0, 0, 1, 1, 0x1p32 + 7.0, 2.0, 1.0);
    EXPECT_EQ(steps[0], 7u);
}

TEST(SetupGolden, MatchesBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    using namespace onset_test;
    for_each_golden_case("filterbank.txt", "setscales0", [](const GoldenCase &c) {
        const auto count = static_cast<std::uint32_t>(std::stoul(c.head[1]));
        const auto expected = samples_from_hex(c.row("out")->words);
        std::vector<double> scales(count + 1, -7.0);
        setscales0(scales.data(), count, static_cast<std::uint32_t>(std::stoul(c.head[2])),
                   sample_from_hex(c.head[3]), sample_from_hex(c.head[4]));
        ASSERT_EQ(expected.size(), count);
        EXPECT_TRUE(same_samples(expected, scales.data()));
        EXPECT_EQ(scales[count], -7.0);
    });
    for_each_golden_case("filterbank.txt", "setwaveletlength0", [](const GoldenCase &c) {
        const auto count = static_cast<std::uint32_t>(std::stoul(c.head[1]));
        const auto scales = samples_from_hex(c.row("in")->words);
        std::vector<std::uint32_t> lengths(count + 1, untouched);
        const std::uint32_t total = setwaveletlength0(
            lengths.data(), scales.data(), count, static_cast<std::uint32_t>(std::stoul(c.head[2])));
        const auto &expected = c.row("lengths")->words;
        ASSERT_EQ(expected.size(), count);
        for (std::uint32_t i = 0; i < count; ++i)
            EXPECT_EQ(lengths[i], std::stoul(expected[i])) << "i " << i;
        EXPECT_EQ(lengths[count], untouched);
        EXPECT_EQ(total, std::stoul(c.row("total")->words.at(0)));
    });
    for_each_golden_case("filterbank.txt", "setsampling0", [](const GoldenCase &c) {
        const auto arg = [&](int k) { return static_cast<std::uint32_t>(std::stoul(c.head[k])); };
        std::vector<std::uint32_t> steps(64, untouched);
        setsampling0(steps.data(), arg(1), static_cast<std::int32_t>(std::stol(c.head[2])), arg(3),
                     arg(4), sample_from_hex(c.head[5]), sample_from_hex(c.head[6]),
                     sample_from_hex(c.head[7]));
        std::vector<std::uint32_t> expected(64, untouched);
        for (const std::string &word : c.row("written")->words) {
            const auto colon = word.find(':');
            expected.at(std::stoul(word.substr(0, colon))) =
                static_cast<std::uint32_t>(std::stoul(word.substr(colon + 1)));
        }
        EXPECT_EQ(steps, expected);
    });
}

} // namespace
