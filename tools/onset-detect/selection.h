// Saying plainly that --channels, --start or --end select nothing of the
// input, before anything is read.
#ifndef ONSET_DETECT_TOOL_SELECTION_H
#define ONSET_DETECT_TOOL_SELECTION_H

#include "options.h"

namespace tool {

// Throws InputError naming the patterns (and, for an SDS archive, a few of
// the channels it holds) or the times when they leave nothing of an input
// that holds something; returns when the selection is not the cause.
void refuse_empty_selection(const Options &options);

}  // namespace tool

#endif
