// Multi-scale decomposition of a trace against a wavelet family.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <omp.h>

#include "golden.h"
#include "noise.h"
#include "onset.h"

namespace {

constexpr double sentinel = -999.0;
constexpr std::uint32_t untouched = 0xdeadbeefu;

// A family over caller-owned arrays, and a decomposition sized for a trace,
// every array pre-filled with sentinels and a guard sample.
struct Bank {
    std::vector<std::vector<double>> wavelet_samples;
    std::vector<double *> wavelets;
    std::vector<std::uint32_t> lengths;
    std::vector<std::int32_t> centers;
    std::vector<std::uint32_t> steps;
    WaveletFamily family{};

    std::vector<std::vector<double>> coefficient_arrays;
    std::vector<double *> coefficients;
    std::vector<std::uint32_t> counts;
    WaveletDecomposition decomposition{};

    Bank(std::vector<std::vector<double>> samples, std::vector<std::int32_t> centres,
         std::vector<std::uint32_t> scale_steps, std::size_t n)
        : wavelet_samples(std::move(samples)), centers(std::move(centres)),
          steps(std::move(scale_steps))
    {
        const std::size_t count = wavelet_samples.size();
        for (auto &w : wavelet_samples) {
            wavelets.push_back(w.data());
            lengths.push_back(static_cast<std::uint32_t>(w.size()));
        }
        family = {wavelets.data(), nullptr, lengths.data(), centers.data(), steps.data(),
                  0.0, 0.0, static_cast<std::uint32_t>(count)};
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t room = steps[i] == 0 ? 1 : (n + steps[i] - 1) / steps[i];
            coefficient_arrays.emplace_back(room + 1, sentinel);
            coefficients.push_back(coefficient_arrays.back().data());
        }
        counts.assign(count + 1, untouched);
        decomposition = {coefficients.data(), counts.data(), untouched};
    }

    bool untouched_scale(std::size_t i) const
    {
        for (double c : coefficient_arrays[i])
            if (c != sentinel)
                return false;
        return counts[i] == untouched;
    }
    bool nothing_written() const
    {
        for (std::size_t i = 0; i < coefficient_arrays.size(); ++i)
            if (!untouched_scale(i))
                return false;
        return decomposition.count == untouched;
    }
};

TEST(Decomposition, BoxWaveletOnAShortTrace)
{
    const std::vector<double> trace = {1, 2, 3, 4, 5};
    Bank bank({{1, 1, 1}}, {1}, {1}, trace.size());
    EXPECT_EQ(real_1D_wavelet_dec(&bank.decomposition, trace.data(), 5, &bank.family),
              ONSET_DEC_OK);
    EXPECT_EQ(bank.decomposition.count, 1u);
    EXPECT_EQ(bank.counts[0], 5u);
    EXPECT_EQ(bank.coefficient_arrays[0], (std::vector<double>{8, 6, 9, 12, 10, sentinel}));
    EXPECT_EQ(bank.counts[1], untouched);
}

TEST(Decomposition, CoefficientCountsFollowTheSteps)
{
    std::vector<double> trace(10);
    for (int i = 0; i < 10; ++i)
        trace[i] = i;
    Bank bank({{1}, {1}, {1}, {1}, {1}}, {0, 0, 0, 0, 0}, {1, 3, 10, 11, 0xffffffffu},
              trace.size());
    ASSERT_EQ(real_1D_wavelet_dec(&bank.decomposition, trace.data(), 10, &bank.family),
              ONSET_DEC_OK);
    EXPECT_EQ(bank.counts, (std::vector<std::uint32_t>{10, 4, 1, 1, 1, untouched}));
    EXPECT_EQ(bank.coefficient_arrays[1], (std::vector<double>{0, 3, 6, 9, sentinel}));
    EXPECT_EQ(bank.coefficient_arrays[4], (std::vector<double>{0, sentinel}));
}

TEST(Decomposition, NullSignalWritesNothing)
{
    Bank bank({{1, 1, 1}}, {1}, {1}, 5);
    EXPECT_EQ(real_1D_wavelet_dec(&bank.decomposition, nullptr, 5, &bank.family),
              ONSET_DEC_NO_SIGNAL);
    EXPECT_TRUE(bank.nothing_written());
    EXPECT_EQ(real_1D_wavelet_dec(nullptr, nullptr, 5, nullptr), ONSET_DEC_NO_SIGNAL);
}

TEST(Decomposition, BadArgumentsWriteNothing)
{
    const std::vector<double> trace = {1, 2, 3, 4, 5};
    Bank bank({{1, 1, 1}, {1}, {1, 1, 1, 1, 1, 1, 1}}, {1, 0, 3}, {1, 2, 0}, trace.size());
    // A zero step is refused even on a scale that would be skipped as too long.
    EXPECT_EQ(real_1D_wavelet_dec(&bank.decomposition, trace.data(), 5, &bank.family),
              ONSET_DEC_BAD_ARGUMENT);
    EXPECT_TRUE(bank.nothing_written());
    bank.steps[2] = 1;
    EXPECT_EQ(real_1D_wavelet_dec(nullptr, trace.data(), 5, &bank.family),
              ONSET_DEC_BAD_ARGUMENT);
    EXPECT_EQ(real_1D_wavelet_dec(&bank.decomposition, trace.data(), 5, nullptr),
              ONSET_DEC_BAD_ARGUMENT);
    EXPECT_TRUE(bank.nothing_written());
}

TEST(Decomposition, LongWaveletsAreSkippedAndTheRestComputed)
{
    const std::vector<double> trace = {1, 2, 3, 4, 5};
    Bank bank({{1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1}}, {3, 2, 1}, {1, 2, 1},
              trace.size());
    EXPECT_EQ(real_1D_wavelet_dec(&bank.decomposition, trace.data(), 5, &bank.family),
              ONSET_DEC_WAVELET_TOO_LONG);
    EXPECT_EQ(bank.decomposition.count, 3u);
    EXPECT_TRUE(bank.untouched_scale(0));
    EXPECT_EQ(bank.counts[1], 3u); // as long as the trace: computed
    EXPECT_EQ(bank.coefficient_arrays[1], (std::vector<double>{15, 15, 15, sentinel}));
    EXPECT_EQ(bank.counts[2], 5u);
    EXPECT_EQ(bank.coefficient_arrays[2], (std::vector<double>{8, 6, 9, 12, 10, sentinel}));
}

TEST(Decomposition, EmptyTraceAndEmptyFamily)
{
    const double dummy = 0.0;
    Bank empty_wavelets({{}, {}}, {0, 0}, {1, 4}, 0);
    EXPECT_EQ(real_1D_wavelet_dec(&empty_wavelets.decomposition, &dummy, 0,
                                  &empty_wavelets.family),
              ONSET_DEC_OK);
    EXPECT_EQ(empty_wavelets.counts, (std::vector<std::uint32_t>{0, 0, untouched}));
    EXPECT_EQ(empty_wavelets.coefficient_arrays[0][0], sentinel);

    Bank one_sample({{}, {2.0}}, {0, 0}, {1, 1}, 0);
    EXPECT_EQ(real_1D_wavelet_dec(&one_sample.decomposition, &dummy, 0, &one_sample.family),
              ONSET_DEC_WAVELET_TOO_LONG);
    EXPECT_EQ(one_sample.counts[0], 0u);
    EXPECT_TRUE(one_sample.untouched_scale(1));

    Bank no_scales({}, {}, {}, 3);
    const double trace[3] = {1, 2, 3};
    EXPECT_EQ(real_1D_wavelet_dec(&no_scales.decomposition, trace, 3, &no_scales.family),
              ONSET_DEC_OK);
    EXPECT_EQ(no_scales.decomposition.count, 0u);
    EXPECT_EQ(no_scales.counts[0], untouched);
}

// A family as a host builds it: scale ladder, capped lengths, decimated steps.
Bank mexican_hat_bank(std::size_t n, bool full_rate)
{
    const std::uint32_t voices = 4, groups = 4, count = voices * groups;
    std::vector<double> scales(count);
    std::vector<std::uint32_t> lengths(count), steps(count);
    setscales0(scales.data(), count, voices, 1.0, 2.0);
    const std::uint32_t total = setwaveletlength0(lengths.data(), scales.data(), count, 301);
    setsampling0(steps.data(), count, full_rate ? 1 : 0, voices, groups, 1.0, 2.0, 0.5);
    std::vector<double> buffer(total);
    std::vector<double *> wavelets(count);
    std::vector<std::int32_t> centers(count);
    wavelets[0] = buffer.data();
    WaveletFamily family{wavelets.data(), scales.data(), lengths.data(), centers.data(),
                         steps.data(), 0.0, 0.0, count};
    FillWaveletFamily(&family);
    std::vector<std::vector<double>> samples;
    for (std::uint32_t i = 0; i < count; ++i)
        samples.emplace_back(wavelets[i], wavelets[i] + lengths[i]);
    return Bank(std::move(samples), centers, steps, n);
}

TEST(Decomposition, SameBitsOnAnyNumberOfThreads)
{
    const std::size_t n = 3001;
    const std::vector<double> trace = onset_test::normal_noise(n, 11);
    const int default_threads = omp_get_max_threads();
    for (bool full_rate : {true, false}) {
        Bank reference = mexican_hat_bank(n, full_rate);
        omp_set_num_threads(1);
        ASSERT_EQ(real_1D_wavelet_dec(&reference.decomposition, trace.data(), n,
                                      &reference.family),
                  ONSET_DEC_OK);
        // Each scale is exactly one correlation with the wavelet's centre.
        for (std::size_t i = 0; i < reference.wavelets.size(); ++i) {
            std::vector<double> alone(reference.coefficient_arrays[i].size(), sentinel);
            cdotx_dd(alone.data(), trace.data(), n, reference.wavelets[i], reference.lengths[i],
                     reference.centers[i], reference.steps[i]);
            ASSERT_TRUE(onset_test::same_bits(alone, reference.coefficient_arrays[i]))
                << "scale " << i;
            ASSERT_EQ(reference.counts[i], (n - 1) / reference.steps[i] + 1);
        }
        for (int threads : {2, 3, 8}) {
            Bank other = mexican_hat_bank(n, full_rate);
            omp_set_num_threads(threads);
            ASSERT_EQ(real_1D_wavelet_dec(&other.decomposition, trace.data(), n, &other.family),
                      ONSET_DEC_OK);
            EXPECT_EQ(other.counts, reference.counts) << threads << " threads";
            for (std::size_t i = 0; i < other.coefficient_arrays.size(); ++i)
                EXPECT_TRUE(onset_test::same_bits(other.coefficient_arrays[i],
                                                  reference.coefficient_arrays[i]))
                    << threads << " threads, scale " << i;
        }
    }
    omp_set_num_threads(default_threads);
}

TEST(DecompositionGolden, MatchesBitForBit)
{
    ONSET_REQUIRE_GOLDEN();
    using namespace onset_test;
    for_each_golden_case("filterbank.txt", "real_1D_wavelet_dec", [](const GoldenCase &c) {
        const std::size_t n = std::stoul(c.head[1]);
        const std::size_t count = std::stoul(c.head[2]);
        auto signal = samples_from_hex(c.row("signal")->words);
        signal.push_back(0.0); // never null, even for n = 0
        std::vector<std::int32_t> centers;
        std::vector<std::uint32_t> steps;
        for (const auto &w : c.row("centers")->words)
            centers.push_back(static_cast<std::int32_t>(std::stol(w)));
        for (const auto &w : c.row("steps")->words)
            steps.push_back(static_cast<std::uint32_t>(std::stoul(w)));
        std::vector<std::vector<double>> samples(count);
        std::vector<std::vector<double>> expected(count);
        std::vector<long> expected_counts(count, -1);
        for (const GoldenRow &row : c.rows) {
            if (row.tag == "wavelet") {
                const std::size_t i = std::stoul(row.words.at(0));
                samples.at(i) = samples_from_hex({row.words.begin() + 1, row.words.end()});
            } else if (row.tag == "scale" && row.words.at(1) != "skipped") {
                const std::size_t i = std::stoul(row.words.at(0));
                expected_counts.at(i) = std::stol(row.words.at(1));
                expected.at(i) = samples_from_hex({row.words.begin() + 2, row.words.end()});
            }
        }
        Bank bank(samples, centers, steps, n);
        ASSERT_EQ(bank.lengths.size(), c.row("lengths")->words.size());
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(bank.lengths[i], std::stoul(c.row("lengths")->words[i]));

        const int code = real_1D_wavelet_dec(&bank.decomposition, signal.data(),
                                             static_cast<std::uint32_t>(n), &bank.family);
        ASSERT_EQ(code, std::stoi(c.row("code")->words.at(0)));
        if (code == ONSET_DEC_BAD_ARGUMENT || code == ONSET_DEC_NO_SIGNAL) {
            EXPECT_TRUE(bank.nothing_written());
            return;
        }
        EXPECT_EQ(bank.decomposition.count, count);
        for (std::size_t i = 0; i < count; ++i) {
            if (expected_counts[i] < 0) {
                EXPECT_TRUE(bank.untouched_scale(i)) << "scale " << i;
                continue;
            }
            EXPECT_EQ(bank.counts[i], static_cast<std::uint32_t>(expected_counts[i]))
                << "scale " << i;
            ASSERT_EQ(expected[i].size(), static_cast<std::size_t>(expected_counts[i]));
            EXPECT_TRUE(same_samples(expected[i], bank.coefficient_arrays[i].data()))
                << "scale " << i;
            EXPECT_EQ(bank.coefficient_arrays[i][expected[i].size()], sentinel);
        }
    });
}

} // namespace
