// The interior's vector lanes against its plain path, bit for bit, on traces
// that stress the order of equal extremes: signed zeros, ties, infinities,
// long monotone stretches and NaN.
#include "jumps/extremes.h"
#include "jumps/lanes.h"
#include "sample_bits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using onset::jumps::Extremes;
using onset::jumps::InteriorPath;
using onset::jumps::write_interior_block;
using onset_test::bits_of;

std::vector<double> awkward_trace(std::size_t n, int kind, std::mt19937_64 &rng)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double picks[] = {0.0, -0.0, 1.0, -1.0, inf, -inf, 0.5};
    std::uniform_int_distribution<int> pick(0, kind == 0 ? 1 : 6);
    std::uniform_real_distribution<double> unit;
    std::vector<double> trace(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
        case 0: // nothing but zeros of both signs
        case 1: // few values, infinities among them
            trace[i] = picks[pick(rng)];
            break;
        case 2: // a slow sine: long rising and falling stretches, flat tops
            trace[i] = std::round(8 * std::sin(0.01 * double(i)));
            break;
        default: // noise with a few NaN
            trace[i] = unit(rng) < 0.001 ? std::numeric_limits<double>::quiet_NaN()
                                         : unit(rng) - 0.5;
        }
    }
    return trace;
}

TEST(MovmxjumpPaths, LanesGiveThePlainBits)
{
    if (!onset::jumps::path_available(InteriorPath::avx2))
        GTEST_SKIP() << "no AVX2 on this CPU";
    std::mt19937_64 rng(21);
    for (int kind = 0; kind < 4; ++kind)
        for (std::size_t window : {1u, 2u, 3u, 7u, 16u, 61u, 300u}) {
            const std::size_t n = 40 * window + 900;
            const std::vector<double> input = awkward_trace(n, kind, rng);
            const std::size_t back = window / 2;
            // Blocks that start anywhere and leave the lanes more or less.
            for (std::size_t first : {std::size_t(0), window / 3 + 5}) {
                const std::size_t end = n - window + 1 - first / 2;
                std::vector<double> plain(n, 7.0), lanes(n, 7.0);
                const Extremes p = write_interior_block(plain.data(), input.data(), window,
                                                        back, first, end, InteriorPath::plain);
                const Extremes l = write_interior_block(lanes.data(), input.data(), window,
                                                        back, first, end, InteriorPath::avx2);
                EXPECT_EQ(p.max_index, l.max_index);
                EXPECT_EQ(p.min_index, l.min_index);
                int failures = 0;
                for (std::size_t k = 0; k < n; ++k)
                    if (bits_of(plain[k]) != bits_of(lanes[k]) && ++failures <= 5)
                        ADD_FAILURE() << "kind " << kind << " w " << window << " first "
                                      << first << " k " << k << ": plain " << plain[k]
                                      << ", lanes " << lanes[k];
            }
        }
}

} // namespace
