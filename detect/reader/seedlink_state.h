// The last sequence number taken of every station, kept in a file so that a
// restarted client resumes where it stopped.
#ifndef ONSET_DETECT_READER_SEEDLINK_STATE_H
#define ONSET_DETECT_READER_SEEDLINK_STATE_H

#include <cstdint>
#include <map>
#include <string>

namespace reading::seedlink {

class StationSequences {
public:
    // Reads the file at `path` when there is one ("": no file is kept), a
    // line "NET.STA SEQUENCE" per station. Throws SeedLinkError when it
    // cannot be read or a line is not of that form.
    explicit StationSequences(std::string path);

    // Writes the file, through a temporary file beside it renamed over it,
    // so that a crash leaves the old or the new one whole. Throws
    // SeedLinkError.
    void save() const;

    void take(const std::string &station, uint64_t sequence) { last_[station] = sequence; }
    // By station, NET.STA.
    const std::map<std::string, uint64_t> &last() const { return last_; }

private:
    std::string path_;
    std::map<std::string, uint64_t> last_;
};

}  // namespace reading::seedlink

#endif
