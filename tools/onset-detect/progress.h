// Stage lines on stderr, so that a long run shows where it is and where the
// time went.
#ifndef ONSET_DETECT_PROGRESS_H
#define ONSET_DETECT_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace detect {

// Inputs below this many samples take well under a second: no stage lines.
constexpr size_t progress_samples = 5000000;

class Stages {
public:
    explicit Stages(bool on) : on_(on), last_(std::chrono::steady_clock::now()) {}
    // Ends the stage begun by the previous call (or the constructor).
    void done(const char *stage, size_t samples)
    {
        const auto now = std::chrono::steady_clock::now();
        if (on_)
            std::fprintf(stderr, "onset-detect: %-10s %7.2f s  (%zu samples)\n", stage,
                         std::chrono::duration<double>(now - last_).count(), samples);
        last_ = now;
    }
    void enable(bool on) { on_ = on; }

private:
    bool on_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace detect

#endif
