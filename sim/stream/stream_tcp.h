// The second family's stream channel: the camera listens on its own address, port 3957, and
// streams over the connection a host opened last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/unique_fd.h"
#include "sim/device/endpoint.h"
#include "sim/stream/send_piece.h"

namespace hxsim {

// Non-blocking throughout, so the streaming thread waits for it with waitForStreamWork() beside its other
// work. A host that re-connects (after losing its connection) replaces the old connection.
class TcpStreamLink {
public:
    enum class SendResult { Progress, Blocked, Broken };

    // Throws std::runtime_error naming the address and the system's reason when it cannot listen.
    explicit TcpStreamLink(uint32_t cameraAddress);

    halvex::platform::Descriptor listenFd() const { return listener_.get(); }
    halvex::platform::Descriptor connectionFd() const { return connection_.get(); }
    bool connected() const { return connection_.valid(); }
    Endpoint peer() const { return peer_; }

    // Takes the newest waiting connection; true when one replaced (or became) the current one.
    bool acceptWaiting();
    // Reads and drops whatever the host sent; false when the host closed the connection.
    bool drainIncoming();
    // Sends what the socket takes now of `bytes`; `sent` says how much. One piece goes out as a
    // list of one, through the platform half's gathering send.
    SendResult send(std::span<const uint8_t> bytes, std::size_t& sent)
    {
        const SendPiece part{const_cast<uint8_t*>(bytes.data()), bytes.size()};
        return send(std::span<const SendPiece>(&part, 1), sent);
    }
    // The same for bytes gathered from several pieces, in one system call.
    SendResult send(std::span<const SendPiece> parts, std::size_t& sent);
    // Resets the connection as a broken link would (the host sees it end at once).
    void cut();
    int lastError() const { return lastError_; }

private:
    halvex::platform::UniqueFd listener_;
    halvex::platform::UniqueFd connection_;
    Endpoint peer_;
    int lastError_ = 0;
};

} // namespace hxsim
