// Picks as they become final, one CSV row each, for an associator that
// cannot wait for the events: the pick columns of the event CSV.
#ifndef ONSET_DETECT_TOOL_PICK_WRITER_H
#define ONSET_DETECT_TOOL_PICK_WRITER_H

#include <cstdio>
#include <string>
#include <vector>

#include "onset_detect.h"

namespace tool {

class PickWriter {
public:
    // Rows appended to earlier ones (with_header false) come without the
    // header line.
    PickWriter(std::FILE *out, const std::vector<std::string> &channel_ids, bool with_header)
        : out_(out), ids_(channel_ids), header_written_(!with_header)
    {
    }
    // Each returns false when the stream could not take it (errno says why).
    bool write(const onset_pick &pick);
    bool finish();

private:
    void header();

    std::FILE *out_;
    const std::vector<std::string> &ids_;
    bool header_written_;
};

}  // namespace tool

#endif
