// Register channel: the register and memory exchanges an operations object has with its camera.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wire/register_pair.h"

namespace halvex::control {

// The camera operations reach their camera only through this interface, so the family logic can
// be exercised against an in-memory camera, and the library's own implementation goes through the
// camera's control channel. Every call returns the control protocol's result: 0 on success, 6 when
// the channel is halted or faulted, 7 to 13 for the camera's refusals and time-outs.
// Implementations may be called from any thread at once.
class RegisterChannel {
public:
    virtual ~RegisterChannel();

    virtual uint32_t readReg(uint32_t reg, uint32_t& value) = 0;
    virtual uint32_t writeReg(uint32_t reg, uint32_t value) = 0;
    // Fills the values of `pairs` in order.
    virtual uint32_t readMultiReg(wire::RegisterPairs& pairs) = 0;
    // Writes every pair in one exchange, in order.
    virtual uint32_t writeMultiReg(const wire::RegisterPairs& pairs) = 0;
    // Reads `count` bytes (0: the default of 536) from camera memory at `start`.
    virtual uint32_t readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count) = 0;
    // Writes at most 536 bytes to camera memory at `start`. Channels that cannot (in-memory
    // cameras without documents) answer 6 by default.
    virtual uint32_t writeMem(uint32_t start, const std::vector<uint8_t>& data);
    // A write sent once (an action) whose caller waits a few round trips rather than the age-out
    // before it reads the camera's state; unanswered by then, it fails as aged out. By default
    // the plain write (one pair as a single-register write).
    virtual uint32_t writeBriefly(const wire::RegisterPairs& pairs);
    // True once the channel has given up on the camera (it was declared lost); a camera that
    // comes back needs a fresh channel.
    virtual bool faulted() const;
    // The camera's operations are done with the channel: whatever it holds open for the camera
    // goes, so that the next exchange (by anyone) starts afresh.
    virtual void release();

    // Where the camera should send its event datagrams: the local address (host order) that
    // reaches it and the port that receives them; port 0 when there is nowhere to send them.
    struct EventRoute {
        uint32_t address = 0;
        uint16_t port = 0;
    };
    // By default the route and the traffic count of the camera's control channel (HxComm);
    // channels that are not the library's own override both.
    virtual EventRoute eventRoute(uint32_t cameraAddress);
    // Datagrams sent to the camera so far; nothing when the camera has no channel (any more).
    virtual std::optional<uint64_t> activityCount(uint32_t cameraAddress) const;
    // The order stamp (control::orderStamp) of a read sent right after this call. By default the
    // camera's control channel first takes the events waiting for it, so an event the camera sent
    // before the read never counts as newer than the read's values.
    virtual uint64_t stampRead(uint32_t cameraAddress);
};

// How a write that the camera's control channel did not complete is reported, whichever layer
// asked for it: the words are the ones hosts have always matched on.
std::string describeWriteRegFailure(uint32_t result);
std::string describeWriteMultiRegFailure(uint32_t result);

// The channel of the library's control protocol for the camera at `address` (network order).
std::shared_ptr<RegisterChannel> controlChannelFor(uint32_t address);

} // namespace halvex::control
