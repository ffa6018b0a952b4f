// A failed call of the engine: its return code and the reason.
#ifndef ONSET_DETECT_FAILURE_H
#define ONSET_DETECT_FAILURE_H

#include <cstdio>
#include <string>

namespace detect {

struct Failure {
    int code;
    std::string reason;
};

// Copies a reason into a host's buffer of `size` bytes, cut to fit.
inline void copy_message(const std::string &text, char *message, size_t size)
{
    if (message && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

}  // namespace detect

#endif
