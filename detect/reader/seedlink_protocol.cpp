// SeedLink 3.1 as SeisComP's seedlink and ringserver serve it, and SeedLink
// 4 as the FDSN describes it.
#include "seedlink_protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "inputs.h"

namespace reading::seedlink {

namespace {

constexpr size_t v3_header = 8;        // "SL" and 6 hex digits, or "SLINFO" and 2 characters
constexpr size_t v3_record = 512;      // the only record length of version 3
constexpr size_t v4_header = 17;       // up to the station id's length
constexpr size_t v4_largest = 1 << 20; // a payload beyond this is a broken stream
constexpr size_t mseed_header = 48;


bool plain(const std::string &pattern) { return pattern.find_first_of("*[") == std::string::npos; }

// A station part as the server matches it: bracket sets widen to '*'.
std::string server_pattern(const std::string &pattern)
{
    return pattern.find('[') == std::string::npos ? pattern : "*";
}

// A selector of one LOC.CHA pattern pair, or nothing when the server's
// syntax cannot hold it.
std::optional<std::string> selector(const std::string &location, const std::string &channel, int version)
{
    const bool any_channel = channel == "*";
    if (!any_channel && (channel.size() != 3 || !plain(channel))) return std::nullopt;
    if (version < 4) {
        // LLCCC, or CCC for the blank location.
        if (any_channel || !(location.empty() || (location.size() == 2 && plain(location)))) return std::nullopt;
        return location + channel;
    }
    // LOC_B_S_SS, the channel split into band, source and subsource.
    if (location != "*" && !(location.size() <= 2 && plain(location))) return std::nullopt;
    if (any_channel) return location + "_*";
    return location + "_" + channel[0] + "_" + channel[1] + "_" + channel[2];
}

uint64_t little_endian(const char *bytes, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

std::string trimmed(const char *text, size_t length)
{
    std::string part(text, length);
    while (!part.empty() && part.back() == ' ') part.pop_back();
    return part;
}

}  // namespace

std::vector<StationRequest> station_requests(const std::string &patterns)
{
    std::vector<StationRequest> requests;
    for (const std::string &pattern : split(patterns.empty() ? "*.*.*.*" : patterns, ',')) {
        if (pattern.empty()) continue;
        const std::vector<std::string> parts = split(pattern, '.');
        if (parts.size() != 4 || parts[0].empty() || parts[1].empty() || parts[3].empty())
            throw SeedLinkError("'" + pattern + "' is not a NET.STA.LOC.CHA pattern");
        auto same = std::find_if(requests.begin(), requests.end(), [&](const StationRequest &r) {
            return r.network == parts[0] && r.station == parts[1];
        });
        if (same == requests.end()) same = requests.insert(requests.end(), {parts[0], parts[1], {}, {}});
        same->locations.push_back(parts[2]);
        same->channels.push_back(parts[3]);
    }
    if (requests.empty()) throw SeedLinkError("no channel patterns in '" + patterns + "'");
    return requests;
}

std::string station_command(const StationRequest &request, int version)
{
    if (version < 4) return "STATION " + server_pattern(request.station) + " " + server_pattern(request.network);
    return "STATION " + server_pattern(request.network) + "_" + server_pattern(request.station);
}

std::vector<std::string> select_commands(const StationRequest &request, int version)
{
    std::vector<std::string> commands;
    for (size_t i = 0; i < request.channels.size(); ++i) {
        const std::optional<std::string> chosen = selector(request.locations[i], request.channels[i], version);
        if (!chosen) return {};
        commands.push_back("SELECT " + *chosen);
    }
    return commands;
}

std::string data_command(std::optional<uint64_t> first, int version)
{
    if (!first) return "DATA";
    if (version >= 4) return "DATA " + std::to_string(*first);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(*first & sequence_mask(version)));
    return std::string("DATA ") + hex;
}

uint64_t sequence_mask(int version) { return version < 4 ? 0xFFFFFF : ~uint64_t{0}; }

size_t parse_packet(const char *bytes, size_t size, int version, Packet &packet)
{
    packet = Packet{};
    if (version < 4) {
        if (size < v3_header) return 0;
        if (std::memcmp(bytes, "SL", 2) != 0) throw SeedLinkError("the server sent something that is no SeedLink packet");
        if (size < v3_header + v3_record) return 0;
        if (std::memcmp(bytes, "SLINFO", 6) != 0) {
            if (!std::all_of(bytes + 2, bytes + v3_header, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                throw SeedLinkError("a SeedLink packet without a sequence number");
            packet.record = true;
            packet.sequence = std::stoull(std::string(bytes + 2, 6), nullptr, 16);
            packet.payload = bytes + v3_header;
            packet.length = v3_record;
        }
        return v3_header + v3_record;
    }
    if (size < v4_header) return 0;
    if (std::memcmp(bytes, "SE", 2) != 0) throw SeedLinkError("the server sent something that is no SeedLink 4 packet");
    const size_t length = little_endian(bytes + 4, 4);
    const size_t station_length = static_cast<unsigned char>(bytes[16]);
    if (length > v4_largest) throw SeedLinkError("a SeedLink 4 packet of " + std::to_string(length) + " bytes");
    const size_t total = v4_header + station_length + length;
    if (size < total) return 0;
    if (bytes[2] == '2') {
        if (length < mseed_header) throw SeedLinkError("a miniSEED record of " + std::to_string(length) + " bytes");
        packet.record = true;
        packet.sequence = little_endian(bytes + 8, 8);
        packet.payload = bytes + v4_header + station_length;
        packet.length = length;
    }
    return total;
}

std::string record_id(const char *record)
{
    return trimmed(record + 18, 2) + "." + trimmed(record + 8, 5) + "." + trimmed(record + 13, 2) + "." +
           trimmed(record + 15, 3);
}

}  // namespace reading::seedlink
