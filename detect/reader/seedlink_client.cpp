#include "seedlink_client.h"

#include <fnmatch.h>

#include <algorithm>
#include <thread>

namespace reading::seedlink {

namespace {

// HOST:PORT, [IPv6]:PORT, or a host alone.
std::pair<std::string, std::string> host_and_port(const std::string &server)
{
    std::string host = server, port = "18000";
    const size_t colon = server.rfind(':');
    const size_t bracket = server.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        host = server.substr(0, colon);
        port = server.substr(colon + 1);
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || port.empty()) throw SeedLinkError("'" + server + "' is not a SeedLink server's HOST:PORT");
    return {host, port};
}

std::string station_of(const std::string &id) { return id.substr(0, id.find('.', id.find('.') + 1)); }

bool covers(const StationRequest &request, const std::string &station)
{
    const size_t dot = station.find('.');
    return fnmatch(request.network.c_str(), station.substr(0, dot).c_str(), 0) == 0 &&
           fnmatch(request.station.c_str(), station.substr(dot + 1).c_str(), 0) == 0;
}

}  // namespace

SeedLinkClient::SeedLinkClient(SeedLinkOptions options)
    : options_(std::move(options)),
      requests_(station_requests(options_.channels)),
      selection_(options_.channels),
      sequences_(options_.state_file),
      retry_wait_(options_.first_retry)
{
    if (options_.version != 3 && options_.version != 4)
        throw SeedLinkError("SeedLink version " + std::to_string(options_.version) + " is not 3 or 4");
    std::tie(host_, port_) = host_and_port(options_.server);
    open();
}

SeedLinkClient::~SeedLinkClient()
{
    try {
        save_state();
    } catch (const SeedLinkError &) {
        // A host that needs to know calls save_state itself.
    }
}

void SeedLinkClient::open()
{
    const auto deadline = [&] { return Clock::now() + options_.answer_time; };
    auto link = std::make_unique<Socket>(host_, port_, deadline());
    link->send_line("HELLO", deadline());
    server_id_ = link->read_line(deadline());
    link->read_line(deadline());  // the organisation
    version_ = options_.version >= 4 && server_id_.find("SLPROTO:4.0") != std::string::npos ? 4 : 3;
    const auto command = [&](const std::string &line) {
        link->send_line(line, deadline());
        const std::string answer = link->read_line(deadline());
        if (answer != "OK")
            throw SeedLinkError("the SeedLink server " + options_.server + " refused '" + line + "': " + answer);
    };
    if (version_ == 4) command("SLPROTO 4.0");
    const uint64_t mask = sequence_mask(version_);
    repeats_.clear();
    for (const StationRequest &request : requests_) {
        std::optional<uint64_t> first;
        for (const auto &[station, last] : sequences_.last())
            if (covers(request, station)) first = std::min(first.value_or(last + 1), last + 1);
        command(station_command(request, version_));
        for (const std::string &select : select_commands(request, version_)) command(select);
        command(data_command(first, version_));
        if (!first) continue;
        for (const auto &[station, last] : sequences_.last())
            if (covers(request, station) && last + 1 != *first)
                repeats_.emplace(station, Repeats{*first & mask, (last + 1 - *first) & mask});
    }
    link->send_line("END", deadline());
    link_ = std::move(link);
    received_.clear();
    last_heard_ = Clock::now();
    keepalive_sent_ = false;
}

void SeedLinkClient::drop(const std::string &why)
{
    link_.reset();
    received_.clear();
    last_problem_ = why;
    retry_at_ = Clock::now() + retry_wait_;
    retry_wait_ = std::min(retry_wait_ * 2, options_.last_retry);
}

bool SeedLinkClient::repeated(const std::string &station, uint64_t sequence) const
{
    const auto found = repeats_.find(station);
    return found != repeats_.end() &&
           ((sequence - found->second.first) & sequence_mask(version_)) < found->second.count;
}

void SeedLinkClient::take_handed_out()
{
    if (!handed_out_) return;
    sequences_.take(handed_out_->first, handed_out_->second);
    handed_out_.reset();
    unsaved_ = true;
}

void SeedLinkClient::save_state()
{
    take_handed_out();
    sequences_.save();
    unsaved_ = false;
    saved_at_ = Clock::now();
}

bool SeedLinkClient::next(SeedLinkRecord &record, Clock::time_point deadline)
{
    take_handed_out();
    if (unsaved_ && Clock::now() >= saved_at_ + options_.state_interval) save_state();
    while (true) {
        if (!link_) {
            if (Clock::now() < retry_at_) {
                std::this_thread::sleep_until(std::min(deadline, retry_at_));
                if (Clock::now() < retry_at_) return false;
            }
            try {
                open();
                ++reconnections_;
            } catch (const SeedLinkError &problem) {
                drop(problem.what());
                continue;
            }
        }
        Packet packet;
        size_t length = 0;
        try {
            length = parse_packet(received_.data(), received_.size(), version_, packet);
        } catch (const SeedLinkError &problem) {
            drop(problem.what());
            continue;
        }
        if (length > 0) {
            if (packet.record) {
                const std::string id = record_id(packet.payload);
                const std::string station = station_of(id);
                if (!repeated(station, packet.sequence)) {
                    if (selection_.takes(id)) {
                        record.id = id;
                        record.station = station;
                        record.sequence = packet.sequence;
                        record.bytes.assign(packet.payload, packet.payload + packet.length);
                        handed_out_.emplace(station, packet.sequence);
                        retry_wait_ = options_.first_retry;
                        received_.erase(0, length);
                        return true;
                    }
                    // Not asked for but sent: taken, so that a restart need not skip it again.
                    sequences_.take(station, packet.sequence);
                    unsaved_ = true;
                }
            }
            received_.erase(0, length);
            continue;
        }
        const auto wake = std::min(deadline, last_heard_ + (keepalive_sent_ ? options_.silence_limit : options_.keepalive));
        try {
            if (link_->receive(received_, wake)) {
                last_heard_ = Clock::now();
                keepalive_sent_ = false;
                continue;
            }
            const auto now = Clock::now();
            if (now >= last_heard_ + options_.silence_limit) {
                drop("the SeedLink server " + options_.server + " fell silent");
                continue;
            }
            if (!keepalive_sent_ && now >= last_heard_ + options_.keepalive) {
                link_->send_line("INFO ID", now + options_.answer_time);
                keepalive_sent_ = true;
                ++keepalives_;
            }
            if (now >= deadline) return false;
        } catch (const SeedLinkError &problem) {
            drop(problem.what());
        }
    }
}

}  // namespace reading::seedlink
