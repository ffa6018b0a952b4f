// POSIX sockets, non-blocking, so that neither a silent server nor a lost
// route can hold the caller past its deadline.
#include "seedlink_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "seedlink_protocol.h"

namespace reading::seedlink {

namespace {

constexpr size_t longest_line = 4096;  // a server's answer line; beyond it the stream is broken

int milliseconds_until(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

struct AddressesDeleter {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};

}  // namespace

Socket::Socket(const std::string &host, const std::string &port, Clock::time_point deadline)
    : where_(host + ":" + port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) throw SeedLinkError("cannot find the SeedLink server " + where_ + ": " + gai_strerror(resolved));
    const std::unique_ptr<addrinfo, AddressesDeleter> addresses(found);
    std::string why = "no address";
    for (const addrinfo *address = found; address; address = address->ai_next) {
        descriptor_ = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             address->ai_protocol);
        if (descriptor_ < 0) {
            why = std::strerror(errno);
            continue;
        }
        if (connect(descriptor_, address->ai_addr, address->ai_addrlen) == 0) return;
        int error = errno;
        if (error == EINPROGRESS) {
            socklen_t size = sizeof error;
            error = !wait(POLLOUT, deadline) ? ETIMEDOUT
                    : getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 ? errno
                                                                                        : error;
            if (error == 0) return;
        }
        why = std::strerror(error);
        close(descriptor_);
        descriptor_ = -1;
    }
    throw SeedLinkError("cannot connect to the SeedLink server " + where_ + ": " + why);
}

Socket::~Socket()
{
    if (descriptor_ >= 0) close(descriptor_);
}

bool Socket::wait(short events, Clock::time_point deadline)
{
    pollfd watched{descriptor_, events, 0};
    while (true) {
        const int ready = poll(&watched, 1, milliseconds_until(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) throw SeedLinkError("the connection to " + where_ + " failed: " + std::strerror(errno));
    }
}

void Socket::send_line(const std::string &line, Clock::time_point deadline)
{
    const std::string bytes = line + "\r\n";
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = send(descriptor_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<size_t>(count);
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!wait(POLLOUT, deadline)) throw SeedLinkError("the SeedLink server " + where_ + " takes no commands");
        } else {
            throw SeedLinkError("the connection to " + where_ + " failed: " + std::strerror(errno));
        }
    }
}

std::string Socket::read_line(Clock::time_point deadline)
{
    while (true) {
        const size_t end = read_ahead_.find('\n');
        if (end != std::string::npos) {
            std::string line = read_ahead_.substr(0, end);
            read_ahead_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (read_ahead_.size() > longest_line) throw SeedLinkError("the SeedLink server " + where_ + " sent no line end");
        if (!receive(read_ahead_, deadline))
            throw SeedLinkError("the SeedLink server " + where_ + " did not answer in time");
    }
}

bool Socket::receive(std::string &bytes, Clock::time_point deadline)
{
    if (!read_ahead_.empty() && &bytes != &read_ahead_) {
        bytes += read_ahead_;
        read_ahead_.clear();
        return true;
    }
    char block[16384];
    while (true) {
        const ssize_t count = recv(descriptor_, block, sizeof block, 0);
        if (count > 0) {
            bytes.append(block, static_cast<size_t>(count));
            return true;
        }
        if (count == 0) throw SeedLinkError("the SeedLink server " + where_ + " closed the connection");
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw SeedLinkError("the connection to " + where_ + " failed: " + std::strerror(errno));
        if (!wait(POLLIN, deadline)) return false;
    }
}

}  // namespace reading::seedlink
