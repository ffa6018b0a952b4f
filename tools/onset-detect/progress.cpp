// The progress line, redrawn at most a few times a second.
#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "report.h"

namespace tool {

Progress::Progress(bool on, Microseconds begin, Microseconds end)
    : on_(on && isatty(STDERR_FILENO) == 1),
      begin_(begin),
      end_(end),
      started_(std::chrono::steady_clock::now()),
      last_(started_)
{
}

void Progress::update(Microseconds reached, uint64_t samples)
{
    if (!on_ || end_ <= begin_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(250) && reached < end_) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double share =
        std::clamp(static_cast<double>(reached - begin_) / static_cast<double>(end_ - begin_), 0.0, 1.0);
    const double left = share > 0.0 ? elapsed * (1.0 - share) / share : 0.0;
    std::fprintf(stderr, "\r\033[Konset-detect: %s  %5.1f%%  %.1f M samples/s  %.0f s left",
                 iso_time(std::min(reached, end_)).c_str(), 100.0 * share,
                 elapsed > 0.0 ? static_cast<double>(samples) / elapsed / 1e6 : 0.0, left);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear()
{
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace tool
