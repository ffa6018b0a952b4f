// Shared pieces of the fuzz targets: decoding of samples and sizes from the
// fuzz input, exactly sized heap buffers (so that AddressSanitizer sees any
// access past an end) and the abort on a mismatch. The bit comparisons are
// the suites' own (tests/support/sample_bits.h).
#pragma once

#include "sample_bits.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <omp.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace onset_fuzz {

using onset_test::bits_of;
using onset_test::first_difference;
using onset_test::same_sample;

// A quiet NaN with a payload that no computation produces: an output that
// still holds it was never written.
inline double unwritten()
{
    const std::uint64_t bits = 0x7ff8dead0bad0001ULL;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

ONSET_TEST_UNTRACED inline bool is_unwritten(double value)
{
    const double mark = unwritten();
    return std::memcmp(&value, &mark, sizeof value) == 0;
}

[[noreturn]] inline void fail(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fputs("fuzz check failed: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// An array of exactly n elements on the heap; n = 0 gives a valid pointer to
// an empty block, which any access trips.
template <typename T>
class Exact {
public:
    explicit Exact(std::size_t n) : data_(new T[n]), size_(n) {}
    Exact(std::size_t n, const T &fill) : Exact(n)
    {
        for (std::size_t i = 0; i < n; ++i)
            data_[i] = fill;
    }
    T *get() const { return data_.get(); }
    T &operator[](std::size_t i) const { return data_[i]; }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<T[]> data_;
    std::size_t size_;
};

// Kinds of sample a trace is drawn from.
enum class Palette {
    small_integers, // -r .. r: exact sums, many ties
    general,        // any finite double of moderate size, fractions included
    extreme,        // everything: NaN, infinities, huge, tiny, signed zeros
};

inline double special_sample(FuzzedDataProvider &in)
{
    static const double specials[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        0.0, -0.0, 1e300, -1e300, 1e200, 1e100, 1e77, 1e16, -1e16,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::min(), 0.1, 1.0 / 3.0};
    return in.PickValueInArray(specials);
}

inline double sample(FuzzedDataProvider &in, Palette palette, int range)
{
    switch (palette) {
    case Palette::small_integers:
        return in.ConsumeIntegralInRange<int>(-range, range);
    case Palette::general:
        return in.ConsumeIntegralInRange<std::int32_t>(-(1 << 24), 1 << 24) / 4096.0;
    case Palette::extreme:
        break;
    }
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return special_sample(in);
    case 1: {
        // Raw bits: any double at all, NaN payloads avoided so that the
        // unwritten mark stays unique.
        double value = in.ConsumeFloatingPoint<double>();
        return std::isnan(value) ? std::numeric_limits<double>::quiet_NaN() : value;
    }
    default:
        return in.ConsumeIntegralInRange<int>(-range, range);
    }
}

// A window width: mostly small, sometimes beyond the trace, sometimes at the
// ends of the 32-bit range.
inline std::uint32_t window_width(FuzzedDataProvider &in, std::uint32_t n)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return 0;
    case 1:
        return n + in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
    case 2:
        return in.ConsumeIntegral<std::uint32_t>();
    case 3:
        return std::numeric_limits<std::uint32_t>::max() -
               in.ConsumeIntegralInRange<std::uint32_t>(0, 2);
    case 4:
        return in.ConsumeIntegralInRange<std::uint32_t>(1, 8);
    default:
        return in.ConsumeIntegralInRange<std::uint32_t>(1, n > 1 ? n : 1);
    }
}

// 1 to `most` threads for the next parallel regions of this thread.
inline int use_threads(FuzzedDataProvider &in, int most)
{
    const int threads = in.ConsumeIntegralInRange<int>(1, most);
    omp_set_num_threads(threads);
    return threads;
}

} // namespace onset_fuzz
