// Where the NaN and infinite samples of a trace lie, found lazily. Private to
// kurtosis/.
#pragma once

#include <cmath>
#include <cstdint>

namespace onset::kurtosis {

// Answers "does in[lo .. hi] hold a NaN or an infinity?" for windows whose
// last index never decreases. Samples are inspected only when asked, so a
// finite trace, whose running sums stay finite, never pays for the scan; each
// sample is inspected at most once per trace.
class NonFiniteSamples {
public:
    explicit NonFiniteSamples(const double *input) : input_(input) {}

    bool any_in(std::uint32_t lo, std::uint32_t hi)
    {
        for (; next_ <= hi; ++next_)
            if (!std::isfinite(input_[next_]))
                last_ = next_;
        return last_ >= static_cast<std::int64_t>(lo);
    }

private:
    const double *input_;
    std::int64_t next_ = 0;  // first index not yet inspected
    std::int64_t last_ = -1; // latest non-finite index inspected, -1 for none
};

} // namespace onset::kurtosis
