// Saying plainly that channel patterns or times select nothing of an input
// that holds something.
#ifndef ONSET_DETECT_READER_SELECTION_PROBLEM_H
#define ONSET_DETECT_READER_SELECTION_PROBLEM_H

#include <string>
#include <vector>

#include "miniseed.h"

namespace reading {

// Files and folders (`paths`), or an SDS archive under `root` when it is not
// empty. The reason, in the words of onset-detect's flags, why `channels`,
// `start` and `end` leave nothing of what the input holds, naming the
// patterns (and, for an archive, a few of the channels it holds) or the
// times; "" when they leave something or the input itself holds nothing.
std::string selection_problem(const std::vector<std::string> &paths, const std::string &root,
                              const std::string &channels, Microseconds start, Microseconds end);

}  // namespace reading

#endif
