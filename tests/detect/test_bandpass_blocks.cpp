// The band-pass by FFT blocks against a direct correlation of the bridged,
// edge-held input, on random kernels, gaps and cuts; its bits against
// other cuts and thread counts; and kernels of very high rates.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bandpass_stream.h"
#include "lookback_store.h"
#include "noise.h"
#include "onset_detect.h"
#include "settings.h"

namespace {

// Every output given, read from the store's filtered column, by index from
// `base`; NaN where none was.
struct Outputs final : detect::FilteredSink {
    Outputs(int64_t first, const detect::LookbackStore &from) : base(first), store(&from) {}
    int64_t base;
    const detect::LookbackStore *store;
    std::vector<double> values;
    int segments = 0;
    void filtered(int64_t first, size_t n) override
    {
        const size_t at = static_cast<size_t>(first - base);
        if (values.size() < at + n) values.resize(at + n, std::numeric_limits<double>::quiet_NaN());
        std::copy_n(store->at(detect::Column::filtered, first), n, values.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void segment_end() override { ++segments; }
};

struct Sample {
    int64_t index;
    double value;
};

// Samples from `first` on with random gaps: most within `bridge`, some
// longer (they end a segment).
std::vector<Sample> gappy_samples(std::mt19937_64 &random, int64_t first, size_t count, int64_t bridge)
{
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<Sample> samples;
    int64_t index = first;
    while (samples.size() < count) {
        samples.push_back({index, normal(random) + 3.0});
        index += 1;
        const unsigned roll = static_cast<unsigned>(random() % 1000);
        if (roll < 3) index += 1 + static_cast<int64_t>(random() % static_cast<uint64_t>(bridge));
        else if (roll < 4) index += bridge + 1 + static_cast<int64_t>(random() % 300);
    }
    return samples;
}

// Output i of each segment by its definition: the kernel over the segment's
// samples, lines across its bridged gaps, its edge samples held outside.
std::vector<double> direct_bandpass(const std::vector<Sample> &samples, const std::vector<double> &kernel,
                                    int64_t bridge, int64_t base)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> out(static_cast<size_t>(samples.back().index - base + 1), nan);
    const int64_t center = static_cast<int64_t>(kernel.size()) / 2;
    size_t begin = 0;
    while (begin < samples.size()) {
        size_t end = begin + 1;
        while (end < samples.size() && samples[end].index - samples[end - 1].index - 1 <= bridge) ++end;
        std::vector<double> line;  // the segment's input by index from its first sample
        for (size_t s = begin; s < end; ++s) {
            if (s > begin) {
                const Sample a = samples[s - 1], b = samples[s];
                for (int64_t i = a.index + 1; i < b.index; ++i)
                    line.push_back(a.value + (b.value - a.value) * (static_cast<double>(i - a.index) /
                                                                     static_cast<double>(b.index - a.index)));
            }
            line.push_back(samples[s].value);
        }
        const int64_t last = static_cast<int64_t>(line.size()) - 1;
        for (size_t s = begin; s < end; ++s) {
            const int64_t i = samples[s].index - samples[begin].index;
            double sum = 0.0;
            for (int64_t k = 0; k < static_cast<int64_t>(kernel.size()); ++k) {
                const int64_t at = std::clamp(i + k - center, int64_t{0}, last);
                sum += kernel[static_cast<size_t>(k)] * line[static_cast<size_t>(at)];
            }
            out[static_cast<size_t>(samples[s].index - base)] = sum;
        }
        begin = end;
    }
    return out;
}

// The samples through a stream, one at a time, with a compute call of
// either kind after a sample with chance `call_rate`; the store's front is
// trimmed to what the stream still reads, as a channel trims it.
Outputs run(const detect::BandPass &filter, const detect::BandPassBlocks &blocks, int64_t bridge,
            const std::vector<Sample> &samples, double call_rate, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    detect::LookbackStore store(detect::channel_columns, 4096);
    Outputs out(samples.front().index, store);
    detect::BandPassStream stream(filter, &blocks, bridge, store);
    for (const Sample &s : samples) {
        stream.take(s.index, &s.value, 1, out);
        if (uniform(random) < call_rate) {
            stream.compute(uniform(random) < 0.5, out);
            store.trim_before(std::min(stream.needs_from(), stream.pending_from()));
        }
    }
    stream.end_segment(out);
    return out;
}

detect::BandPass as_filter(const std::vector<double> &kernel)
{
    detect::BandPass filter;
    filter.kernel = kernel;
    filter.center = static_cast<int32_t>(kernel.size() / 2);
    return filter;
}

TEST(DetectBandPassBlocks, MatchDirectCorrelationOnRandomKernelsGapsAndCuts)
{
    std::mt19937_64 random(41);
    for (int trial = 0; trial < 24; ++trial) {
        // Random kernels of any odd length, and the filters of a few rates.
        std::vector<double> kernel;
        if (trial % 4 == 3) {
            const double rates[] = {20.0, 50.0, 100.0, 250.0, 500.0};
            kernel = detect::make_bandpass(rates[random() % 5], 2.0, 8.0, 4).kernel;
        } else {
            kernel = onset_test::normal_noise(random, 2 * (random() % 400) + 1);
        }
        const size_t length = kernel.size();
        const detect::BandPassBlocks blocks(kernel);
        const detect::BandPass filter = as_filter(kernel);
        const int64_t bridge = 1 + static_cast<int64_t>(random() % length);
        // Indices of a 100 Hz channel counted from 1970, or around 0.
        const int64_t first = trial % 2 ? 170000000000 + static_cast<int64_t>(random() % 100000)
                                        : -static_cast<int64_t>(random() % 5000);
        const auto samples = gappy_samples(random, first, 2000 + random() % 12000, bridge);
        const Outputs out = run(filter, blocks, bridge, samples, trial % 3 ? 0.01 : 0.0, random());
        const auto expected = direct_bandpass(samples, kernel, bridge, first);

        double scale = 0.0;  // an output's size at most: |kernel| times the largest sample
        for (double c : kernel) scale += std::abs(c);
        scale *= 10.0;
        ASSERT_EQ(out.values.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            if (std::isnan(expected[i])) {
                ASSERT_TRUE(std::isnan(out.values[i])) << "trial " << trial << " output " << i;
            } else {
                ASSERT_NEAR(out.values[i], expected[i], 1e-14 * scale * std::log2(blocks.block_inputs()))
                    << "trial " << trial << " kernel " << length << " output " << i;
            }
        }
    }
}

TEST(DetectBandPassBlocks, SameBitsForAnyCutsAndThreads)
{
    std::mt19937_64 random(5);
    // 200 Hz: a kernel long enough for blocks.
    const detect::RateSettings settings([] {
        onset_detect_options options;
        onset_detect_defaults(&options);
        return options;
    }(), 200.0);
    ASSERT_NE(settings.filter_blocks, nullptr);
    const auto samples = gappy_samples(random, 165432101234, 60000, settings.bridge);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const Outputs whole = run(settings.filter, *settings.filter_blocks, settings.bridge, samples, 0.0, 0);
    for (const double call_rate : {1.0, 0.3, 0.001}) {
        for (const int count : {1, 2, 3}) {
            omp_set_num_threads(count);
            const Outputs cut = run(settings.filter, *settings.filter_blocks, settings.bridge, samples, call_rate, random());
            ASSERT_EQ(cut.values.size(), whole.values.size());
            EXPECT_EQ(std::memcmp(cut.values.data(), whole.values.data(), whole.values.size() * sizeof(double)), 0)
                << "calls at rate " << call_rate << ", " << count << " threads";
            EXPECT_EQ(cut.segments, whole.segments);
        }
    }
    omp_set_num_threads(threads);
}

TEST(DetectBandPassBlocks, KernelsOfVeryHighRatesAreFilteredOrRefused)
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    const std::string refusal = detect::rate_problem(options, 1e7);
    EXPECT_NE(refusal.find("more than the " + std::to_string(detect::longest_kernel)), std::string::npos) << refusal;
    ASSERT_EQ(detect::rate_problem(options, 1e5), "");

    // A short trace at 100 kHz, far shorter than its kernel, all held at its
    // edges: spot outputs against the direct sum.
    const double rate = 1e5;
    const std::vector<double> x = onset_test::normal_noise(900, 3);
    std::vector<double> filtered(x.size());
    ASSERT_EQ(onset_detect_stages(&options, rate, 1700000000000000, x.data(), x.size(), filtered.data(), nullptr,
                                  nullptr, 0),
              0);
    const detect::BandPass filter = detect::make_bandpass(rate, options.fmin, options.fmax, options.voices);
    const int64_t last = static_cast<int64_t>(x.size()) - 1;
    for (int64_t i : {int64_t{0}, int64_t{1}, int64_t{450}, last - 1, last}) {
        double sum = 0.0, scale = 0.0;
        for (size_t k = 0; k < filter.kernel.size(); ++k) {
            const int64_t at = std::clamp(i + static_cast<int64_t>(k) - filter.center, int64_t{0}, last);
            const double v = x[static_cast<size_t>(at)];
            sum += filter.kernel[k] * v;
            scale += std::abs(filter.kernel[k] * v);
        }
        EXPECT_NEAR(filtered[static_cast<size_t>(i)], sum, 1e-12 * scale) << "output " << i;
    }
}

}  // namespace
