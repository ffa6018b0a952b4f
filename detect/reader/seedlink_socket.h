// One TCP connection to a SeedLink server, every wait bounded by a
// deadline.
#ifndef ONSET_DETECT_READER_SEEDLINK_SOCKET_H
#define ONSET_DETECT_READER_SEEDLINK_SOCKET_H

#include <chrono>
#include <string>

namespace reading::seedlink {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    // Connects to HOST:PORT before `deadline`. Throws SeedLinkError saying
    // why not: a host that cannot be resolved, a refusal, no answer.
    Socket(const std::string &host, const std::string &port, Clock::time_point deadline);
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    // Sends a command line, CR LF added.
    void send_line(const std::string &line, Clock::time_point deadline);
    // The next line the server sends, without its line end.
    std::string read_line(Clock::time_point deadline);
    // Appends the bytes received (first those read ahead by read_line) to
    // `bytes`; false when none came before the deadline. Throws
    // SeedLinkError when the server closed the connection or it broke.
    bool receive(std::string &bytes, Clock::time_point deadline);

private:
    // Waits for `events` on the socket; false at the deadline.
    bool wait(short events, Clock::time_point deadline);

    int descriptor_ = -1;
    std::string where_;       // HOST:PORT, for messages
    std::string read_ahead_;  // received after the last line read
};

}  // namespace reading::seedlink

#endif
