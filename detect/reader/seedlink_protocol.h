// The SeedLink wire format, versions 3.1 and 4: the commands that select
// stations and channels, and the packets that carry the records.
#ifndef ONSET_DETECT_READER_SEEDLINK_PROTOCOL_H
#define ONSET_DETECT_READER_SEEDLINK_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace reading::seedlink {

// Why a link cannot be made or kept: a host that cannot be reached, a
// server that refuses, a stream that breaks the protocol.
struct SeedLinkError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The stations of one NET.STA pattern pair and the LOC.CHA patterns asked of
// them, in the order first named.
struct StationRequest {
    std::string network, station;
    std::vector<std::string> locations, channels;  // side by side
};

// Groups NET.STA.LOC.CHA patterns (comma separated, shell wildcards) by
// station; an empty text asks for every channel. Throws SeedLinkError for
// a pattern without four parts.
std::vector<StationRequest> station_requests(const std::string &patterns);

// The command lines (without CR LF) that ask for a station's records from
// sequence number `first` on (the server's choice when none), for the
// protocol version 3 or 4. Channel patterns the server cannot express are
// left to the client's own filter: then the whole station is asked for.
std::string station_command(const StationRequest &request, int version);
std::vector<std::string> select_commands(const StationRequest &request, int version);
std::string data_command(std::optional<uint64_t> first, int version);

// The bits of a sequence number: version 3 has 24 and wraps around.
uint64_t sequence_mask(int version);

// One packet of the stream after END: a miniSEED 2 record with its
// sequence number, or something else (INFO answers, other formats) to skip.
struct Packet {
    bool record = false;
    uint64_t sequence = 0;
    const char *payload = nullptr;
    size_t length = 0;
};

// Reads the packet at the start of `bytes`: returns its whole length, or 0
// when more bytes are needed. Throws SeedLinkError when they are no packet.
size_t parse_packet(const char *bytes, size_t size, int version, Packet &packet);

// NET.STA.LOC.CHA from the fixed header of a miniSEED 2 record (at least
// 20 bytes), trimmed.
std::string record_id(const char *record);

}  // namespace reading::seedlink

#endif
