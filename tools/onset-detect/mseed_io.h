// miniSEED input and output through libmseed.
#ifndef ONSET_DETECT_MSEED_IO_H
#define ONSET_DETECT_MSEED_IO_H

#include <string>
#include <vector>

#include "trace.h"

namespace detect {

// Reads every file; the records of one channel (NET.STA.LOC.CHA), from any
// of the files, become one trace, NaN where no record covers a sample.
// Traces come back sorted by id. Throws InputError naming the file for a
// missing, empty or unreadable file or one without data records.
std::vector<Trace> read_miniseed(const std::vector<std::string> &files);

// Writes each trace, whose samples must be whole numbers without gaps, as
// Steim-2 records of 4096 bytes to folder/ID.mseed; returns the paths.
std::vector<std::string> write_miniseed(const std::vector<Trace> &traces,
                                        const std::string &folder);

}  // namespace detect

#endif
