// What an onset_reader handle holds, for the C entries of the reader and of
// the runs over it.
#ifndef ONSET_DETECT_READER_HANDLE_H
#define ONSET_DETECT_READER_HANDLE_H

#include <memory>
#include <string>

#include "reader.h"

struct onset_reader {
    std::unique_ptr<reading::Reader> reader;
    std::string message;
    std::string warning;  // the line handed out last
    bool driven = false;  // a run reads it
};

#endif
