// Seeded white noise, the common test trace of the suites and the
// benchmarks. Header only, and free of GoogleTest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace onset_test {

// n samples drawn from a normal distribution with this mean and standard
// deviation, taken from rng (which moves on).
inline std::vector<double> normal_noise(std::mt19937_64 &rng, std::size_t n, double mean = 0.0,
                                        double spread = 1.0)
{
    std::normal_distribution<double> normal(mean, spread);
    std::vector<double> samples(n);
    for (double &x : samples)
        x = normal(rng);
    return samples;
}

// The same from a generator of its own, seeded with `seed`.
inline std::vector<double> normal_noise(std::size_t n, std::uint64_t seed, double mean = 0.0,
                                        double spread = 1.0)
{
    std::mt19937_64 rng(seed);
    return normal_noise(rng, n, mean, spread);
}

} // namespace onset_test
