// Every parallel function gives the same bits for any number of threads:
// each input runs under 1, 2, 3, 5, 8 and 16 threads and is compared with
// the one-thread result bit for bit, NaN payloads and signs included.
#include "noise.h"
#include "onset.h"
#include "sample_bits.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace {

const int thread_counts[] = {1, 2, 3, 5, 8, 16};
const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

using Samples = std::vector<double>;

// Runs `compute` under every thread count; each result must match the
// first, bit for bit.
void expect_same_bits(const std::function<std::vector<Samples>()> &compute)
{
    std::vector<Samples> first;
    for (const int threads : thread_counts) {
        omp_set_num_threads(threads);
        ASSERT_EQ(omp_get_max_threads(), threads);
        const std::vector<Samples> result = compute();
        if (first.empty()) {
            first = result;
            continue;
        }
        ASSERT_EQ(result.size(), first.size());
        for (std::size_t t = 0; t < result.size(); ++t) {
            ASSERT_EQ(result[t].size(), first[t].size());
            for (std::size_t i = 0; i < result[t].size(); ++i)
                ASSERT_EQ(onset_test::bits_of(result[t][i]), onset_test::bits_of(first[t][i]))
                    << threads << " threads, array " << t << ", sample " << i << ": "
                    << result[t][i] << " against " << first[t][i] << " on one thread";
        }
    }
    omp_set_num_threads(1);
}

// Traces of every kind the functions meet: noise with outliers, small
// integers with many ties, a smooth oversampled sine, a walk with long
// monotonic runs, constant stretches, and non-finite samples.
std::vector<Samples> traces(std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> small(-3, 3);
    std::vector<Samples> out;
    for (const std::size_t n : {0, 1, 2, 3, 7, 64, 331, 2000, 6007}) {
        Samples noise = onset_test::normal_noise(rng, n);
        Samples walk = onset_test::normal_noise(rng, n);
        Samples ties(n), sine(n), steps(n);
        for (std::size_t k = 0; k < n; ++k) {
            if (k % 97 == 13)
                noise[k] *= 40.0;
            ties[k] = small(rng);
            sine[k] = std::sin(2.0 * M_PI * static_cast<double>(k) / 2000.0);
            if (k > 0)
                walk[k] += walk[k - 1];
            steps[k] = static_cast<double>((k / 50) % 4);
        }
        Samples gappy = noise;
        for (std::size_t k = 5; k < n; k += 211)
            gappy[k] = (k / 211) % 3 == 0 ? nan : ((k / 211) % 3 == 1 ? inf : -inf);
        Samples nan_ties = ties;
        for (std::size_t k = 0; k < n; k += 37)
            nan_ties[k] = nan;
        for (Samples *s : {&noise, &ties, &sine, &walk, &steps, &gappy, &nan_ties})
            out.push_back(std::move(*s));
    }
    return out;
}

std::vector<std::uint32_t> windows_for(std::size_t n)
{
    std::vector<std::uint32_t> w{0, 1, 2, 3, 4, 5, 16, 61, 128, 1024};
    w.push_back(static_cast<std::uint32_t>(n));
    w.push_back(static_cast<std::uint32_t>(n + 3));
    return w;
}

// One batch: every trace with every window.
struct Batch {
    std::vector<const double *> inputs;
    std::vector<std::uint32_t> lengths, windows;

    explicit Batch(const std::vector<Samples> &all)
    {
        for (const Samples &trace : all)
            for (const std::uint32_t w : windows_for(trace.size())) {
                inputs.push_back(trace.data());
                lengths.push_back(static_cast<std::uint32_t>(trace.size()));
                windows.push_back(w);
            }
    }

    std::vector<Samples> run(void (*driver)(const TraceBatch *)) const
    {
        std::vector<Samples> outputs;
        std::vector<double *> pointers;
        for (const std::uint32_t n : lengths)
            outputs.emplace_back(n, -7.0);
        for (Samples &o : outputs)
            pointers.push_back(o.data());
        const TraceBatch batch{inputs.data(), pointers.data(), lengths.data(), windows.data(),
                               static_cast<std::uint32_t>(inputs.size())};
        driver(&batch);
        return outputs;
    }
};

TEST(Determinism, MovkurtosisBatch)
{
    const std::vector<Samples> all = traces(1);
    const Batch batch(all);
    expect_same_bits([&] { return batch.run(movkurtosis); });
}

TEST(Determinism, MovkurtosisFewerTracesThanThreads)
{
    const std::vector<Samples> all = traces(2);
    const std::vector<Samples> three(all.end() - 3, all.end()), one(all.end() - 1, all.end());
    const Batch batch(three);
    const Batch single(one);
    expect_same_bits([&] {
        std::vector<Samples> out = batch.run(movkurtosis);
        for (Samples &s : single.run(movkurtosis))
            out.push_back(std::move(s));
        return out;
    });
}

// Within a thread's block the traces run side by side in vector lanes; each
// must still come out as a call of its own would give it, whatever block it
// falls in. Equal lengths keep the lanes full; the mixed ones make lanes take
// trace after trace and finish alone.
TEST(Determinism, MovkurtosisLanesGiveOneTraceCallsBits)
{
    std::vector<Samples> all = traces(6);
    for (const Samples &trace : traces(7))
        if (trace.size() == 6007)
            all.push_back(trace);
    const Batch batch(all);
    std::vector<Samples> alone;
    for (std::size_t t = 0; t < batch.inputs.size(); ++t) {
        alone.emplace_back(batch.lengths[t], -7.0);
        trace_movkurtosis(alone.back().data(), batch.inputs[t], batch.lengths[t],
                          batch.windows[t]);
    }
    for (const int threads : thread_counts) {
        omp_set_num_threads(threads);
        const std::vector<Samples> out = batch.run(movkurtosis);
        for (std::size_t t = 0; t < out.size(); ++t)
            ASSERT_TRUE(out[t].empty() || std::memcmp(out[t].data(), alone[t].data(),
                                                      out[t].size() * sizeof(double)) == 0)
                << threads << " threads, trace " << t << " (n " << batch.lengths[t] << ", w "
                << batch.windows[t] << ")";
    }
    omp_set_num_threads(1);
}

TEST(Determinism, TraceMovmxjumpWithTiesAndNaN)
{
    const std::vector<Samples> all = traces(3);
    expect_same_bits([&] {
        std::vector<Samples> out;
        for (const Samples &trace : all)
            for (const std::uint32_t w : windows_for(trace.size())) {
                out.emplace_back(trace.size(), -7.0);
                trace_movmxjump(out.back().data(), trace.data(),
                                static_cast<std::uint32_t>(trace.size()), w);
            }
        return out;
    });
}

TEST(Determinism, MovjumpsBatch)
{
    const std::vector<Samples> all = traces(4);
    const Batch batch(all);
    expect_same_bits([&] { return batch.run(movjumps); });
}

// A filter bank of 16 scales (four groups of four voices) over caller-owned
// arrays, at full rate or with the decimated steps.
struct Bank {
    std::vector<double> scales, buffer;
    std::vector<std::uint32_t> lengths, steps;
    std::vector<std::int32_t> centers;
    std::vector<double *> wavelets;
    WaveletFamily family{};

    static constexpr std::uint32_t count = 16;

    explicit Bank(bool full_rate)
        : scales(count), lengths(count), steps(count), centers(count), wavelets(count)
    {
        setscales0(scales.data(), count, 4, 2.0, 2.0);
        buffer.resize(setwaveletlength0(lengths.data(), scales.data(), count, 513));
        setsampling0(steps.data(), count, full_rate ? 1 : 0, 4, 4, 2.0, 2.0, 0.5);
        wavelets[0] = buffer.data();
        family = WaveletFamily{wavelets.data(), scales.data(), lengths.data(), centers.data(),
                               steps.data(), 0.0, 0.0, count};
        FillWaveletFamily(&family);
    }

    // Coefficients of every scale, then the counts and the result code as
    // samples, so that all of them are compared.
    std::vector<Samples> decompose(const Samples &trace) const
    {
        const auto n = static_cast<std::uint32_t>(trace.size());
        std::vector<Samples> out;
        std::vector<double *> pointers;
        for (const std::uint32_t step : steps)
            out.emplace_back((n + step - 1) / step, -7.0);
        for (Samples &o : out)
            pointers.push_back(o.data());
        std::vector<std::uint32_t> counts(count, 0xdeadbeefu);
        WaveletDecomposition decomposition{pointers.data(), counts.data(), 0};
        const std::int32_t result =
            real_1D_wavelet_dec(&decomposition, trace.data(), n, &family);
        Samples summary{static_cast<double>(result), static_cast<double>(decomposition.count)};
        for (const std::uint32_t c : counts)
            summary.push_back(c);
        out.push_back(summary);
        return out;
    }
};

TEST(Determinism, WaveletDecomposition)
{
    const std::vector<Samples> all = traces(5);
    for (const bool full_rate : {true, false}) {
        const Bank bank(full_rate);
        // Traces of 2000 samples take every scale, shorter ones skip the
        // longest wavelets (result -3); the gappy ones carry NaN and
        // infinities.
        for (const Samples &trace : all) {
            if (trace.size() < 64 || trace.size() > 2000)
                continue;
            expect_same_bits([&] { return bank.decompose(trace); });
        }
    }
}

} // namespace
