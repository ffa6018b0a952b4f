#include "interruption.h"

#include <csignal>

namespace tool {

namespace {

volatile std::sig_atomic_t noted = 0;

void note(int signal) { noted = signal; }

}  // namespace

void note_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = note;
    sigemptyset(&action.sa_mask);
    // Reads and writes carry on; the first signal puts the default back.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return noted; }

void stop_if_interrupted()
{
    if (noted != 0) throw Interrupted{noted};
}

}  // namespace tool
