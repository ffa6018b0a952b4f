// Grouping of the events of several traces into captures.
#pragma once

#include "onset.h"
#include "picker/capture_storage.h"

#include <cstdint>

namespace onset::picker {

// The body of captures once the working storage is in hand: every free event
// of trace t, in trace and index order, seeds a capture and takes at most one
// free event from each later trace. storage holds set.count > 0 entries of
// each kind. Returns the number of captures written.
int32_t group_captures(const CaptureSet &set, const Pick *const *picks,
                       const int32_t *counts, const double *tolerances,
                       uint8_t *const *taken, const CaptureStorage &storage);

} // namespace onset::picker
