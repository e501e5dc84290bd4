// A minimal host for talking to stand-in cameras in tests: UDP sockets on loopback, requests
// built with the wire codecs, waits bounded by deadlines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/unique_fd.h"
#include "sim/device/endpoint.h"
#include "wire/control_packet.h"
#include "wire/event_packet.h"

namespace hxsim_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Datagram {
    std::vector<uint8_t> bytes;
    hxsim::Endpoint from;
};

// One UDP socket bound to 127.0.0.1 on a port the kernel picks.
class UdpPort {
public:
    explicit UdpPort(bool broadcast = false) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        if (!fd_ || (broadcast && ::setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)) {
            throw std::runtime_error("cannot open a UDP socket");
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7F000001);
        socklen_t size = sizeof address;
        if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw std::runtime_error("cannot bind a UDP socket on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
    }

    uint16_t port() const { return port_; }

    void send(const std::vector<uint8_t>& bytes, hxsim::Endpoint to) const
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(to.port);
        address.sin_addr.s_addr = htonl(to.address);
        ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    // The next datagram, or nothing once `deadline` has passed.
    std::optional<Datagram> receive(Clock::time_point deadline) const
    {
        for (;;) {
            std::vector<uint8_t> buffer(65536);
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t got = ::recvfrom(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &size);
            if (got >= 0) {
                buffer.resize(static_cast<std::size_t>(got));
                return Datagram{buffer, {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)}};
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return std::nullopt;
            }
            pollfd wait{fd_.get(), POLLIN, 0};
            ::poll(&wait, 1, static_cast<int>(left.count()) + 1);
        }
    }

private:
    halvex::platform::UniqueFd fd_;
    uint16_t port_ = 0;
};

// A host's control channel to cameras: one request at a time, answered within a deadline.
class ControlClient {
public:
    std::optional<Datagram> request(const std::vector<uint8_t>& bytes, hxsim::Endpoint to,
                                    std::chrono::milliseconds limit = 2s)
    {
        port_.send(bytes, to);
        const auto id = halvex::wire::decodeCommandHeader(bytes)->requestId;
        const auto deadline = Clock::now() + limit;
        while (auto reply = port_.receive(deadline)) {
            auto header = halvex::wire::decodeAckHeader(reply->bytes);
            if (header && header->ackId == id) {
                return reply;
            }
        }
        return std::nullopt;
    }

    std::optional<uint32_t> read(hxsim::Endpoint camera, uint32_t address)
    {
        auto reply = request(halvex::wire::encodeReadRegCmd(std::vector<uint32_t>{address}, nextId()), camera);
        if (!reply) {
            return std::nullopt;
        }
        auto ack = halvex::wire::decodeReadRegAck(reply->bytes);
        if (!ack || ack->header.status != 0 || ack->values.size() != 1) {
            return std::nullopt;
        }
        return ack->values[0];
    }

    // A gated write; the camera status, or nothing without an answer.
    std::optional<uint16_t> write(hxsim::Endpoint camera, halvex::wire::RegisterPairs pairs)
    {
        const auto plan = halvex::wire::planMultiWrite(pairs);
        auto reply = request(halvex::wire::encodeWriteRegCmd(plan.pairs, true, nextId()), camera);
        if (!reply) {
            return std::nullopt;
        }
        return halvex::wire::decodeWriteRegAck(reply->bytes)->header.status;
    }

    UdpPort& port() { return port_; }
    uint16_t nextId() { return id_ = static_cast<uint16_t>(id_ == 0xFFFF ? 1 : id_ + 1); }

private:
    UdpPort port_;
    uint16_t id_ = 0;
};

} // namespace hxsim_test
