// SIGINT and SIGTERM end a run between two slices, with its outputs closed
// properly: the events written so far, every document complete.
#ifndef ONSET_DETECT_TOOL_INTERRUPTION_H
#define ONSET_DETECT_TOOL_INTERRUPTION_H

namespace tool {

// Thrown by stop_if_interrupted(); holds the signal.
struct Interrupted {
    int signal;
};

// From now on SIGINT and SIGTERM only note the signal, once: a second one
// ends the program at once, as it would have without this.
void note_stop_signals();

// The signal noted, or 0.
int stop_signal();

// Throws Interrupted once a signal was noted: called between slices.
void stop_if_interrupted();

}  // namespace tool

#endif
