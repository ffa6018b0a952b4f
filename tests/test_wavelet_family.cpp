// Mexican-hat sampling and the layout of a wavelet family.
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "golden.h"
#include "onset.h"

namespace {

constexpr double three_sqrt_pi = 5.317361552716548;

// The closed form, written independently of the sampler's operation order.
double mexican_hat(double t, double scale)
{
    const double amplitude = 2.0 / std::sqrt(3.0 * std::sqrt(M_PI) * scale);
    const double r = t / scale;
    return amplitude * (r * r - 1.0) * std::exp(-r * r / 2.0);
}

TEST(MexicanHat, LengthFiveAtUnitScale)
{
    double wavelet[6];
    wavelet[5] = 42.0;
    std::int32_t center = -1;
    MexicanHatFun_real(wavelet, &center, 5, 0.0, 1.0);
    EXPECT_EQ(center, 2);
    EXPECT_EQ(wavelet[2], -2.0 / std::sqrt(three_sqrt_pi));
    EXPECT_EQ(wavelet[1], 0.0);
    EXPECT_EQ(wavelet[3], 0.0);
    EXPECT_EQ(wavelet[0], wavelet[4]);
    EXPECT_GT(wavelet[0], 0.0);
    EXPECT_EQ(wavelet[5], 42.0);
}

TEST(MexicanHat, CentresOfEvenAndTinyLengths)
{
    double wavelet[4] = {9.0, 9.0, 9.0, 9.0};
    std::int32_t center = -1;
    MexicanHatFun_real(wavelet, &center, 4, 0.0, 1.0);
    EXPECT_EQ(center, 2);
    EXPECT_NEAR(wavelet[0], mexican_hat(-2.0, 1.0), 1e-15); // offsets -2 .. 1
    EXPECT_EQ(wavelet[3], 0.0);

    double untouched = 9.0;
    MexicanHatFun_real(&untouched, &center, 0, 0.0, 1.0);
    EXPECT_EQ(center, 0);
    EXPECT_EQ(untouched, 9.0);

    MexicanHatFun_real(wavelet, &center, 1, 0.0, 2.5);
    EXPECT_EQ(center, 0);
    EXPECT_EQ(wavelet[0], -2.0 / std::sqrt(three_sqrt_pi * 2.5));
}

TEST(MexicanHat, MatchesTheClosedFormAndIgnoresTheParameter)
{
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> scales(0.05, 200.0);
    std::uniform_int_distribution<std::uint32_t> lengths(0, 4001);
    for (int trial = 0; trial < 60; ++trial) {
        const double scale = scales(rng);
        const std::uint32_t length = lengths(rng);
        std::vector<double> wavelet(length), other(length);
        std::int32_t center = -1, other_center = -1;
        MexicanHatFun_real(wavelet.data(), &center, length, 0.0, scale);
        MexicanHatFun_real(other.data(), &other_center, length, -123.5, scale);
        ASSERT_EQ(center, static_cast<std::int32_t>(length / 2));
        ASSERT_EQ(other_center, center);
        ASSERT_TRUE(onset_test::same_bits(wavelet, other));
        const double peak = 2.0 / std::sqrt(three_sqrt_pi * scale);
        for (std::uint32_t k = 0; k < length; ++k) {
            const double t = static_cast<double>(k) - center;
            ASSERT_NEAR(wavelet[k], mexican_hat(t, scale), 1e-13 * peak)
                << "scale " << scale << " k " << k;
        }
    }
}

TEST(MexicanHat, DegenerateScalesGiveNaN)
{
    double wavelet[3];
    std::int32_t center;
    MexicanHatFun_real(wavelet, &center, 3, 0.0, 0.0);
    for (double w : wavelet)
        EXPECT_TRUE(std::isnan(w));
    MexicanHatFun_real(wavelet, &center, 3, 0.0, -1.0);
    for (double w : wavelet)
        EXPECT_TRUE(std::isnan(w));
}

TEST(FillWaveletFamily, ChainsSamplesAndSetsTheConstant)
{
    std::uint32_t lengths[] = {3, 5, 7};
    double scales[] = {0.5, 1.0, 1.5};
    std::int32_t centers[3] = {};
    std::uint32_t steps[3] = {1, 1, 1};
    std::vector<double> buffer(16, 77.0);
    double *wavelets[3] = {buffer.data(), nullptr, nullptr};
    WaveletFamily family{wavelets, scales, lengths, centers, steps, 0.0, 3.25, 3};
    FillWaveletFamily(&family);
    EXPECT_EQ(wavelets[1], buffer.data() + 3);
    EXPECT_EQ(wavelets[2], buffer.data() + 8);
    EXPECT_EQ(centers[0], 1);
    EXPECT_EQ(centers[1], 2);
    EXPECT_EQ(centers[2], 3);
    EXPECT_EQ(family.wavelet_constant, 2.3632718012073544);
    EXPECT_EQ(buffer[15], 77.0); // exactly the sum of the lengths
    for (int i = 0; i < 3; ++i) {
        std::vector<double> alone(lengths[i]);
        std::int32_t center;
        MexicanHatFun_real(alone.data(), &center, lengths[i], 0.0, scales[i]);
        EXPECT_TRUE(onset_test::same_bits(alone, {wavelets[i], wavelets[i] + lengths[i]})) << i;
    }
}

TEST(FillWaveletFamily, EmptyAndSingleFamilies)
{
    double *wavelets[2] = {nullptr, reinterpret_cast<double *>(0x10)};
    WaveletFamily empty{wavelets, nullptr, nullptr, nullptr, nullptr, 0.0, 0.0, 0};
    FillWaveletFamily(&empty);
    EXPECT_EQ(empty.wavelet_constant, 2.3632718012073544);
    EXPECT_EQ(wavelets[1], reinterpret_cast<double *>(0x10));

    double buffer[5];
    double scale = 0.25;
    std::uint32_t length = 5;
    std::int32_t center = -1;
    wavelets[0] = buffer;
    WaveletFamily single{wavelets, &scale, &length, &center, nullptr, 0.0, 0.0, 1};
    FillWaveletFamily(&single);
    EXPECT_EQ(center, 2);
    EXPECT_EQ(wavelets[1], reinterpret_cast<double *>(0x10));
}

TEST(MexicanHatGolden, MatchesBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    using namespace onset_test;
    for_each_golden_case("filterbank.txt", "MexicanHatFun_real", [](const GoldenCase &c) {
        const auto length = static_cast<std::uint32_t>(std::stoul(c.head[1]));
        const auto expected = samples_from_hex(c.row("out")->words);
        ASSERT_EQ(expected.size(), length);
        std::vector<double> wavelet(length + 1, 5.0);
        std::int32_t center = -1;
        MexicanHatFun_real(wavelet.data(), &center, length, sample_from_hex(c.head[2]),
                           sample_from_hex(c.head[3]));
        EXPECT_EQ(center, std::stol(c.row("center")->words.at(0)));
        EXPECT_TRUE(same_samples(expected, wavelet.data()));
        EXPECT_EQ(wavelet[length], 5.0);
    });
}

} // namespace
