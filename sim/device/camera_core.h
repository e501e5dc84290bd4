// The stand-in camera's request handler: from one received datagram to the datagrams it sends.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/device/answered_requests.h"
#include "sim/device/camera_config.h"
#include "sim/device/camera_device.h"
#include "sim/device/endpoint.h"
#include "sim/device/sim_time.h"

namespace hxsim {

// A datagram the camera sends, with the channel whose faults apply to it.
struct Outgoing {
    FaultChannel channel = FaultChannel::Control;
    Endpoint to;
    std::vector<uint8_t> bytes;
};

// Pure with respect to the network: it never touches a socket or a clock. The caller passes
// each datagram with its source and the camera time it arrived, and sends what comes back, in
// order: first the answer, then the events for the registers the request changed. Any byte
// sequence is safe to hand in; what is not a request is dropped (and logged).
class CameraCore {
public:
    CameraCore(const CameraConfig& config, Logger logger = {});

    // `broadcast`: the datagram came to a broadcast address, where only discovery is answered.
    // A request the camera has just answered, sent again by the same host (its acknowledge was
    // lost), gets the same acknowledge and is not carried out again.
    std::vector<Outgoing> handle(std::span<const uint8_t> datagram, Endpoint from, SimTime now, bool broadcast = false);
    // Answers a request with `status` and carries nothing out (an injected error); nothing for a
    // datagram that is no request or asks no answer.
    std::vector<Outgoing> refuse(std::span<const uint8_t> datagram, Endpoint from, uint16_t status);
    // Changes of the camera's own that are due by `now` (state transitions, heartbeat expiry)
    // and the events they cause.
    std::vector<Outgoing> advance(SimTime now);
    SimTime nextDeadline() const { return device_.nextDeadline(); }

    std::vector<uint8_t> discoveryReply(uint16_t ackId) const;
    CameraDevice& device() { return device_; }
    const CameraDevice& device() const { return device_; }

private:
    std::vector<uint8_t> answer(std::span<const uint8_t> datagram, uint16_t command, Endpoint from, SimTime now);
    std::vector<uint8_t> readRegisters(std::span<const uint8_t> datagram);
    std::vector<uint8_t> writeRegisters(std::span<const uint8_t> datagram, Endpoint from, SimTime now);
    std::vector<uint8_t> readMemory(std::span<const uint8_t> datagram);
    std::vector<uint8_t> writeMemory(std::span<const uint8_t> datagram);
    void appendEvents(const std::vector<uint32_t>& before, bool internalOnly, SimTime now, std::vector<Outgoing>& out);
    void log(const std::string& line) const;

    Logger logger_;
    CameraDevice device_;
    AnsweredRequests answered_;
    uint16_t eventId_ = 0;
};

} // namespace hxsim
