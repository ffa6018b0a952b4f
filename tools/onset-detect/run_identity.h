// What sets one run's outputs apart from every other's: QuakeML resource
// ids under a prefix of their own, so that catalogues of several runs can
// be merged, and the time the run began.
#ifndef ONSET_DETECT_TOOL_RUN_IDENTITY_H
#define ONSET_DETECT_TOOL_RUN_IDENTITY_H

#include <string>

#include "inputs.h"

namespace tool {

struct RunIdentity {
    std::string resource_id;  // smi:local/onset/<random UUID>, the catalogue's
    Microseconds created;     // UTC
};

// A new identity: a version 4 UUID, as ObsPy makes its resource ids, and now.
RunIdentity new_run_identity();

}  // namespace tool

#endif
