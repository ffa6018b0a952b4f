// The tool's runs: recordings (files, folders or an SDS archive), a live
// SeedLink stream, the built-in synthetic network, and writing that network
// as an archive.
#ifndef ONSET_DETECT_TOOL_RUNS_H
#define ONSET_DETECT_TOOL_RUNS_H

#include "engine.h"
#include "options.h"

namespace tool {

// Each returns the exit status; bad input throws InputError.
int run_recordings(const Options &options);
// Runs until SIGINT or SIGTERM, then flushes, closes the outputs and throws
// Interrupted.
int run_live(const Options &options);
int run_synthetic(const Options &options);
int write_synthetic(const Options &options);

// The station metadata and velocity model the options locate with.
LocationFiles location_files(const Options &options);

}  // namespace tool

#endif
