// A failed call of the engine: its return code and the reason.
#ifndef ONSET_DETECT_FAILURE_H
#define ONSET_DETECT_FAILURE_H

#include <string>

namespace detect {

struct Failure {
    int code;
    std::string reason;
};

}  // namespace detect

#endif
