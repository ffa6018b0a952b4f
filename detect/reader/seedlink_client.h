// A SeedLink client: the miniSEED records of chosen stations and channels,
// live from a server, each handed out once, in the server's order, across
// dropped connections and restarts.
//
//     SeedLinkOptions options;
//     options.server = "localhost:18000";
//     options.channels = "XX.S01..HHZ,XX.S02..HH?";
//     options.state_file = "seedlink.state";
//     SeedLinkClient client(options);         // throws SeedLinkError
//     SeedLinkRecord record;
//     while (running) {
//         if (client.next(record, Clock::now() + std::chrono::seconds(1)))
//             use(record.bytes);                 // one miniSEED 2 record
//         else
//             do_other_work();                   // nothing came in time
//     }
//
// Records are handed out as they arrive, late and out-of-order ones with
// their own times: placing them is the reader's business.
#ifndef ONSET_DETECT_READER_SEEDLINK_CLIENT_H
#define ONSET_DETECT_READER_SEEDLINK_CLIENT_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inputs.h"
#include "seedlink_protocol.h"
#include "seedlink_socket.h"
#include "seedlink_state.h"

namespace reading::seedlink {

struct SeedLinkOptions {
    std::string server;       // HOST:PORT, or HOST for SeedLink's port 18000
    std::string channels;     // NET.STA.LOC.CHA patterns, comma separated; "" for all
    std::string state_file;   // "" keeps no state across runs
    // Rewriting the state file after every record would bound the rate to
    // a few hundred records a second; after a crash (not a stop), a restart
    // repeats up to this much of what was taken.
    std::chrono::milliseconds state_interval{1000};
    int version = 4;          // the highest protocol version to speak: 3 (3.1) or 4
    std::chrono::milliseconds answer_time{10000};    // to connect, and for each answer before END
    std::chrono::milliseconds keepalive{30000};      // silence after which INFO ID asks for a sign of life
    std::chrono::milliseconds silence_limit{120000}; // silence after which the link counts as dead
    std::chrono::milliseconds first_retry{1000};     // the wait before the first reconnection,
    std::chrono::milliseconds last_retry{60000};     // doubled after each failure up to this
};

struct SeedLinkRecord {
    std::string id;        // NET.STA.LOC.CHA
    std::string station;   // NET.STA
    uint64_t sequence = 0; // the server's, for the station
    std::vector<char> bytes;
};

class SeedLinkClient {
public:
    // Reads the state file and connects. Throws SeedLinkError when the
    // patterns or the state file are malformed, or when this first
    // connection fails or the server refuses a station or a selection:
    // that is a wrong address or setting, not a passing fault.
    explicit SeedLinkClient(SeedLinkOptions options);
    // Saves the state, the last record handed out counting as taken.
    ~SeedLinkClient();
    SeedLinkClient(const SeedLinkClient &) = delete;
    SeedLinkClient &operator=(const SeedLinkClient &) = delete;

    // Waits for the next record of the selected channels until `deadline`:
    // true when `record` holds one, false when the deadline came first.
    // The record handed out by the call before counts as taken now; the
    // state file is rewritten when state_interval has passed. A dropped
    // or silent connection is reconnected after a wait that doubles with
    // each failure; the stations resume from their last records taken.
    // Connecting (the host's name resolved without a bound) and each answer
    // before END may take up to answer_time past the deadline. Throws
    // SeedLinkError only when the state file cannot be written.
    bool next(SeedLinkRecord &record, Clock::time_point deadline);

    // Writes the state file, the last record handed out counting as taken.
    void save_state();

    int version() const { return version_; }  // of the current or last connection
    const std::string &server_id() const { return server_id_; }  // its answer to HELLO
    int64_t reconnections() const { return reconnections_; }
    int64_t keepalives() const { return keepalives_; }
    const std::string &last_problem() const { return last_problem_; }  // why the last connection ended

private:
    // Connects, selects and starts the stream. Throws SeedLinkError.
    void open();
    // Closes the link after a failure and sets the time of the next try.
    void drop(const std::string &why);
    // The record's sequence number falls in what was taken before this
    // connection.
    bool repeated(const std::string &station, uint64_t sequence) const;
    void take_handed_out();

    SeedLinkOptions options_;
    std::string host_, port_;
    std::vector<StationRequest> requests_;
    ChannelSelection selection_;
    StationSequences sequences_;

    std::unique_ptr<Socket> link_;
    int version_ = 3;
    std::string server_id_;
    std::string received_;          // bytes after END not yet made into packets
    Clock::time_point last_heard_;  // the last bytes received
    bool keepalive_sent_ = false;
    Clock::time_point retry_at_;
    std::chrono::milliseconds retry_wait_;

    // Stations asked for from an earlier sequence number than their own
    // last one (a wildcard station resumes from the earliest of the
    // stations it covers): the records they took already come again.
    struct Repeats {
        uint64_t first, count;
    };
    std::map<std::string, Repeats> repeats_;
    std::optional<std::pair<std::string, uint64_t>> handed_out_;  // station and sequence
    bool unsaved_ = false;  // taken since the state file was written
    Clock::time_point saved_at_;

    int64_t reconnections_ = 0, keepalives_ = 0;
    std::string last_problem_;
};

}  // namespace reading::seedlink

#endif
