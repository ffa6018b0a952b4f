// miniSEED records in and out. This file and miniseed.cpp are the only ones
// that know libmseed.
#ifndef ONSET_DETECT_READER_MINISEED_H
#define ONSET_DETECT_READER_MINISEED_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace reading {

// Microseconds since 1970-01-01T00:00:00Z, the time unit of miniSEED.
using Microseconds = int64_t;

// Where one record lies in its file and what it holds.
struct RecordHeader {
    std::string id;       // NET.STA.LOC.CHA
    Microseconds start;   // time of the first sample
    double rate;          // samples per second
    int64_t samples;
    uint64_t offset;      // in the file, bytes
    uint32_t length;      // bytes
    bool text;            // a text (log) record: no samples
    bool repaired_id;     // its codes held bytes that are no text, replaced in `id`
};

// The records of one file, read header by header (the samples stay on
// disk). `problem` says why the file is no miniSEED file at all ("" when
// it is); `left_out` says, one line each, which bytes hold records that
// cannot be used, from where and why (a damaged record does not cost the
// ones after it). What libmseed itself says while reading goes to `said`,
// one line each.
struct FileIndex {
    std::vector<RecordHeader> records;
    std::string problem;
    std::vector<std::string> left_out;
};
FileIndex index_file(const std::string &path, std::vector<std::string> &said);
// The same for a file already open, read from its current position.
FileIndex index_stream(std::FILE *file, std::vector<std::string> &said);

// Decodes one record (its bytes as read from the file), after the same
// checks of its header as when it was indexed, and appends its samples;
// returns "" or why it could not.
std::string decode_record(std::vector<char> &bytes, std::vector<double> &samples, std::vector<std::string> &said);
// The same for a record that comes alone (from a stream, not a file): its
// header is filled in too (offset 0).
std::string decode_record(std::vector<char> &bytes, RecordHeader &header, std::vector<double> &samples,
                          std::vector<std::string> &said);

// Steim-2 records of 4096 bytes of one channel, appended to a file.
class RecordWriter {
public:
    RecordWriter(const std::string &path, const std::string &id, double rate);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // Appends samples (whole counts) that follow the previous ones without a
    // gap, the first of them at `start` when this is the first call.
    void write(Microseconds start, const int32_t *counts, size_t count);
    // Writes what is left as a last, shorter record and closes the file;
    // throws std::runtime_error when the file cannot be written.
    void close();

private:
    std::string path_;
    std::FILE *file_;
    void *trace_;  // libmseed's MSTrace, holding the samples not yet packed
};

}  // namespace reading

#endif
