#include "seedlink_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "seedlink_protocol.h"

namespace reading::seedlink {

StationSequences::StationSequences(std::string path) : path_(std::move(path))
{
    if (path_.empty()) return;
    std::ifstream file(path_);
    if (!file) {
        if (errno == ENOENT) return;  // a first run
        throw SeedLinkError("cannot read the state file '" + path_ + "': " + std::strerror(errno));
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::istringstream fields(line);
        std::string station, rest;
        uint64_t sequence = 0;
        if (line.empty()) continue;
        if (!(fields >> station >> sequence) || fields >> rest || station.find('.') == std::string::npos)
            throw SeedLinkError("the state file '" + path_ + "' line " + std::to_string(number) +
                                " is not 'NET.STA SEQUENCE': " + line);
        last_[station] = sequence;
    }
}

void StationSequences::save() const
{
    if (path_.empty()) return;
    const std::string temporary = path_ + ".tmp";
    std::FILE *file = std::fopen(temporary.c_str(), "w");
    if (!file) throw SeedLinkError("cannot write the state file '" + temporary + "': " + std::strerror(errno));
    bool written = true;
    for (const auto &[station, sequence] : last_)
        written = written && std::fprintf(file, "%s %llu\n", station.c_str(), static_cast<unsigned long long>(sequence)) > 0;
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(temporary.c_str());
        throw SeedLinkError("cannot write the state file '" + path_ + "': " + why);
    }
}

}  // namespace reading::seedlink
