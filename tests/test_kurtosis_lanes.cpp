// The moving kurtosis's vector paths against the plain one, bit for bit:
// recomputations computed ahead in lanes (one trace) and traces carried in
// lanes (a batch), on traces whose windows leave the band in runs, hold NaN
// and infinities, or overflow, with windows from 0 up.
#include "kurtosis/lane_paths.h"
#include "kurtosis/moving_kurtosis.h"
#include "kurtosis_reference.h"
#include "noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using onset::simd::Isa;
using Samples = std::vector<double>;

std::vector<Isa> lane_paths()
{
    std::vector<Isa> paths;
    for (Isa isa : {Isa::sse2, Isa::avx2, Isa::avx512})
        if (onset::simd::runs(isa))
            paths.push_back(isa);
    return paths;
}

double nan_with_bits(std::uint64_t bits)
{
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Kinds of trace: 0 noise, 1 a sine of period 2w (windows near half a period
// fall below the band, step after step), 2 blocks of two values (K = 1),
// 3 small integers (windows without spread), 4 noise with loud bursts,
// 5 noise with NaN of several signs and payloads and infinities, 6 samples
// whose fourth powers overflow.
Samples trace_of(int kind, std::size_t n, std::uint32_t w, std::mt19937_64 &rng)
{
    Samples x = onset_test::normal_noise(n, rng());
    const double period = 2.0 * (w > 0 ? w : 1);
    for (std::size_t k = 0; k < n; ++k) {
        switch (kind) {
        case 1:
            x[k] = std::sin(2 * M_PI * double(k) / period);
            break;
        case 2:
            x[k] = (k / 3) % 2 ? 4.0 : -1.0;
            break;
        case 3:
            x[k] = std::round(x[k] * 0.3);
            break;
        case 4:
            x[k] *= k % 500 < 3 ? 40.0 : 1.0;
            break;
        case 5: {
            const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                                  nan_with_bits(0xfff4000000000123u),
                                  nan_with_bits(0x7ff0000000000001u),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
            if (k % 173 == 17)
                x[k] = odd[(k / 173) % 5];
            break;
        }
        case 6:
            x[k] *= k % 97 == 5 ? 1e100 : 1.0;
            break;
        default:
            break;
        }
    }
    return x;
}

bool same_bits(const Samples &a, const Samples &b)
{
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Every NaN written is the one quiet NaN, whatever NaN the input held.
bool nans_are_quiet(const Samples &out)
{
    const double quiet = std::numeric_limits<double>::quiet_NaN();
    for (const double v : out)
        if (v != v && std::memcmp(&v, &quiet, sizeof v) != 0)
            return false;
    return true;
}

Samples computed(const Samples &in, std::uint32_t w, Isa ahead)
{
    Samples out(in.size(), -1.0);
    onset::kurtosis::moving_kurtosis(out.data(), in.data(), static_cast<std::uint32_t>(in.size()),
                                     w, ahead);
    return out;
}

TEST(KurtosisLanes, RecomputationsAheadGiveThePlainBits)
{
    std::mt19937_64 rng(15);
    for (int kind = 0; kind < 7; ++kind)
        for (std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 16u, 61u, 128u, 1000u})
            for (std::size_t n : {std::size_t(w) + 1, 3 * std::size_t(w) + 7, std::size_t(5000)}) {
                const Samples in = trace_of(kind, n, w, rng);
                const Samples plain = computed(in, w, Isa::plain);
                EXPECT_TRUE(nans_are_quiet(plain)) << "kind " << kind << " w " << w;
                for (Isa path : lane_paths())
                    EXPECT_TRUE(same_bits(plain, computed(in, w, path)))
                        << "path " << int(path) << " kind " << kind << " n " << n << " w " << w;
            }
}

TEST(KurtosisLanes, WindowsComputedAheadServeOnlyTheirOwnMean)
{
    const std::uint32_t w = 40, n = 400;
    std::mt19937_64 rng(3);
    const Samples in = onset_test::normal_noise(n, rng());
    for (Isa path : lane_paths()) {
        onset::kurtosis::RecomputedAhead ahead(path);
        double s1 = onset::kurtosis::window_sum(in.data(), in.data() + w);
        for (std::uint32_t lo = 0; lo + w <= n; ++lo) {
            if (lo > 0)
                s1 = s1 + (in[lo - 1 + w] - in[lo - 1]);
            // Every third window about a mean the sliding steps would not
            // have formed: the windows computed ahead must not serve it.
            const double mean = lo % 3 ? (1.0 / w) * s1 : 0.25;
            onset::kurtosis::RunningSums got{}, want{};
            ahead.central_sums(in.data(), w, lo, n - w, s1, mean, got);
            onset::kurtosis::central_sums_about(in.data() + lo, in.data() + lo + w, mean, want);
            ASSERT_TRUE(same_bits({got.s2, got.s3, got.s4}, {want.s2, want.s3, want.s4}))
                << "path " << int(path) << " window " << lo;
        }
    }
}

// A batch of traces, each written over a sentinel.
struct Batch {
    std::vector<Samples> inputs, outputs;
    std::vector<std::uint32_t> lengths, windows;
    std::vector<const double *> in;
    std::vector<double *> out;

    void add(Samples input, std::uint32_t w)
    {
        lengths.push_back(static_cast<std::uint32_t>(input.size()));
        windows.push_back(w);
        inputs.push_back(std::move(input));
    }

    TraceBatch record()
    {
        outputs.assign(inputs.size(), {});
        in.clear();
        out.clear();
        for (std::size_t t = 0; t < inputs.size(); ++t) {
            outputs[t].assign(inputs[t].size(), -1.0);
            in.push_back(inputs[t].data());
            out.push_back(outputs[t].data());
        }
        return {in.data(), out.data(), lengths.data(), windows.data(),
                static_cast<std::uint32_t>(inputs.size())};
    }
};

Samples alone(const Samples &in, std::uint32_t w)
{
    Samples out(in.size(), -1.0);
    trace_movkurtosis(out.data(), in.data(), static_cast<std::uint32_t>(in.size()), w);
    return out;
}

void expect_block_gives_each_trace(Batch &batch, std::uint32_t first, std::uint32_t end,
                                   const char *what)
{
    for (Isa path : lane_paths()) {
        const TraceBatch record = batch.record();
        onset::kurtosis::movkurtosis_block(record, first, end, path);
        for (std::uint32_t t = 0; t < record.count; ++t) {
            const Samples want = first <= t && t < end
                                     ? alone(batch.inputs[t], batch.windows[t])
                                     : Samples(batch.inputs[t].size(), -1.0);
            EXPECT_TRUE(same_bits(want, batch.outputs[t]))
                << what << ": path " << int(path) << " trace " << t << " of " << record.count
                << " (n " << batch.lengths[t] << ", w " << batch.windows[t] << ")";
        }
    }
}

TEST(KurtosisLanes, TracesInLanesGiveEachTracesBits)
{
    std::mt19937_64 rng(42);
    const std::uint32_t small_windows[] = {0, 1, 2, 3, 4, 7, 16, 33, 128, 500};
    for (std::uint32_t count : {1u, 2u, 3u, 5u, 8u, 9u, 17u, 40u}) {
        Batch batch;
        for (std::uint32_t t = 0; t < count; ++t) {
            const std::uint32_t n = std::uniform_int_distribution<std::uint32_t>(0, 3000)(rng);
            std::uint32_t w = small_windows[rng() % 10];
            if (rng() % 4 == 0)
                w = n + static_cast<std::uint32_t>(rng() % 4); // no sliding phase
            batch.add(trace_of(static_cast<int>(rng() % 7), n, w, rng), w);
        }
        expect_block_gives_each_trace(batch, 0, count, "mixed");
        if (count > 2)
            expect_block_gives_each_trace(batch, 1, count - 1, "inner block");
    }
}

TEST(KurtosisLanes, LanesThatFinishTogetherOrOneAfterAnother)
{
    std::mt19937_64 rng(7);
    Batch equal, staggered;
    for (std::uint32_t t = 0; t < 16; ++t) {
        equal.add(trace_of(static_cast<int>(t % 7), 2000, 64, rng), 64);
        // One long trace beside many short ones: lanes take trace after
        // trace while the long one slides on, then it finishes alone.
        const std::size_t n = t == 0 ? 20000 : 50 + 37 * t;
        staggered.add(trace_of(static_cast<int>(t % 7), n, 9 + t, rng), 9 + t);
    }
    expect_block_gives_each_trace(equal, 0, 16, "equal lengths");
    expect_block_gives_each_trace(staggered, 0, 16, "staggered");
}

} // namespace
