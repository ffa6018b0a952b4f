// Bad input from the user, and the times the flags take.
#ifndef ONSET_DETECT_TOOL_INPUTS_H
#define ONSET_DETECT_TOOL_INPUTS_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tool {

// Microseconds since 1970-01-01T00:00:00Z, the engine's time unit.
using Microseconds = int64_t;

// A problem with the user's flags or paths: reported on stderr, exit 2.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "2024-03-01", "2024-03-01T12:00", "2024-03-01T12:00:30.25Z", ...: UTC.
// Throws InputError naming `flag` when the text is no such time.
Microseconds parse_time(const std::string &flag, const std::string &text);

}  // namespace tool

#endif
