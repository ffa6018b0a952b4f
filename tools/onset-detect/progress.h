// Stage lines on stderr, so that a long run shows where it is and where the
// time went.
#ifndef ONSET_DETECT_PROGRESS_H
#define ONSET_DETECT_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <ctime>

namespace detect {

// Inputs below this many samples take a second or two: no stage lines.
constexpr size_t progress_samples = 20000000;

class Stages {
public:
    explicit Stages(bool on) : on_(on), last_(std::chrono::steady_clock::now()), last_cpu_(std::clock()) {}
    // Ends the stage begun by the previous call (or the constructor).
    void done(const char *stage, size_t samples)
    {
        const auto now = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        if (on_)
            std::fprintf(stderr, "onset-detect: %-10s %7.2f s  (cpu %6.2f s, %zu samples)\n", stage,
                         std::chrono::duration<double>(now - last_).count(),
                         static_cast<double>(cpu - last_cpu_) / CLOCKS_PER_SEC, samples);
        last_ = now;
        last_cpu_ = cpu;
    }
    void enable(bool on) { on_ = on; }

private:
    bool on_;
    std::chrono::steady_clock::time_point last_;
    std::clock_t last_cpu_;  // of all threads
};

}  // namespace detect

#endif
