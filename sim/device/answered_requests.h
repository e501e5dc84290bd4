// The acknowledges a camera last sent each host, so a request sent again after a lost
// acknowledge is answered the same way instead of being carried out twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "sim/device/endpoint.h"

namespace hxsim {

// A repeat is the same datagram (same request id, same bytes) from the same host address and
// port. A host keeps several requests in flight, so the last few answers per host are kept; a
// request with id 0 (a host's fire-and-forget writes, the releases a closing channel sends)
// forgets that host's, since its next channel counts ids from 1 again.
class AnsweredRequests {
public:
    static constexpr std::size_t KEPT_PER_HOST = 8;
    static constexpr std::size_t HOSTS = 64;

    // The answer sent to this very request before, if it is a repeat.
    std::optional<std::vector<uint8_t>> repeatOf(const Endpoint& from, std::span<const uint8_t> request) const;
    void remember(const Endpoint& from, std::span<const uint8_t> request, const std::vector<uint8_t>& answer);
    void forget(const Endpoint& from);

private:
    struct Answered {
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;
    };
    struct Host {
        Endpoint endpoint;
        std::deque<Answered> answered;
    };
    std::deque<Host> hosts_;
};

} // namespace hxsim
