// A file named by a flag, complete or absent: written under a temporary name
// beside it and renamed onto it once complete, so that a failed run leaves
// no torn file and an older file at that path as it was. A device or a pipe
// (/dev/full, /dev/stdout, a FIFO) cannot be renamed onto: it is written in
// place. A run that never ends writes its files in place too, so that they
// can be read as it goes: a document anew, rows and phases appended after
// those of earlier runs.
#ifndef ONSET_DETECT_TOOL_OUTPUT_FILE_H
#define ONSET_DETECT_TOOL_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace tool {

// How a file is written: replaced once complete, or as the run goes.
enum class Writing { replace, in_place, append };

class OutputFile {
public:
    // Throws InputError naming the flag, the path and why.
    OutputFile(const std::string &flag, const std::string &path, Writing writing = Writing::replace);
    // Unless committed, the temporary file is removed.
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    std::FILE *stream() const { return file_; }
    // Whether it held nothing before: appended rows then need their header.
    bool began_empty() const { return began_empty_; }
    // "--quakeml: cannot write 'PATH': " + the reason errno holds now.
    std::string failure() const;
    // Flushes, syncs and closes the file and puts it in place; throws
    // std::runtime_error with failure() when any of it fails.
    void commit();

private:
    void close_and_remove();

    std::string flag_, path_;
    std::string target_;     // the file a link leads to
    std::string temporary_;  // empty when written in place
    std::FILE *file_ = nullptr;
    bool began_empty_ = true;
};

}  // namespace tool

#endif
