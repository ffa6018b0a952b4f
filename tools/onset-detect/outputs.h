// Where a run's events go: stdout, and the files of --quakeml and --nlloc;
// its picks to the file of --picks.
#ifndef ONSET_DETECT_TOOL_OUTPUTS_H
#define ONSET_DETECT_TOOL_OUTPUTS_H

#include <deque>
#include <string>
#include <vector>

#include "event_writer.h"
#include "options.h"
#include "output_file.h"
#include "pick_writer.h"
#include "run_identity.h"

namespace tool {

class Outputs {
public:
    // A live run writes its files in place, so that they can be read as it
    // goes (QuakeML whole at the end); others under a temporary name.
    Outputs(const Options &options, const std::vector<std::string> &ids);
    // Left unfinished by a stop signal, every output is closed properly with
    // the events written so far; by a failure, the files are left out.
    ~Outputs();
    Outputs(const Outputs &) = delete;
    Outputs &operator=(const Outputs &) = delete;

    // Both throw std::runtime_error naming the output that could not be
    // written and why, at the first write that fails.
    void write(const Event &event);
    void write(const onset_pick &pick);
    void finish();

private:
    void close();

    RunIdentity run_;
    std::deque<OutputFile> files_;
    std::deque<EventWriter> writers_;  // stdout's, then one per file
    std::deque<PickWriter> pick_writers_;  // of the last file, with --picks
    bool finished_ = false;
};

}  // namespace tool

#endif
