// A stand-in camera behind the register channel interface, without a network: the camera's own
// request handler answers each exchange, on a camera clock the test moves.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "control/register_channel.h"
#include "sim/device/camera_core.h"

namespace hx_test {

// Requests are encoded with the wire codecs and handed to the camera's request handler, so the
// camera sees what it would see on the wire (write gate included). The events the camera sends
// to the message channel it was given are kept for the test to deliver. Safe from any thread.
class SimChannel : public halvex::control::RegisterChannel {
public:
    static constexpr uint32_t HOST_ADDRESS = 0x7F000001; // host order
    static constexpr uint16_t EVENT_PORT = 5826;

    explicit SimChannel(const hxsim::CameraConfig& config);

    uint32_t readReg(uint32_t reg, uint32_t& value) override;
    uint32_t writeReg(uint32_t reg, uint32_t value) override;
    uint32_t readMultiReg(halvex::wire::RegisterPairs& pairs) override;
    uint32_t writeMultiReg(const halvex::wire::RegisterPairs& pairs) override;
    uint32_t readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count) override;
    EventRoute eventRoute(uint32_t cameraAddress) override;
    std::optional<uint64_t> activityCount(uint32_t cameraAddress) const override;

    // Moves the camera clock on; what the camera does meanwhile (state changes) may send events.
    void advance(hxsim::SimTime by);
    // The events the camera sent since the last call, as (register, value) pairs.
    halvex::wire::RegisterPairs takeEvents();
    // The camera's register as it holds it now.
    uint32_t cameraRegister(uint32_t address);
    // Every multi-register write as the caller asked for it, in order.
    std::vector<halvex::wire::RegisterPairs> multiWrites() const;
    // From now on every exchange fails with `result` (0: answer again).
    void failWith(uint32_t result);
    // From now on every register read fails with `result` (0: answer again); writes still work.
    void failReadsWith(uint32_t result);
    // The camera starts again from its power-up state, as after a restart.
    void restart();
    // Another host takes the camera's control privilege.
    void otherHostTakesControl();
    // Runs `action` on the camera's core (for changes a test makes on the camera's side).
    template <class Action>
    void onCamera(Action action)
    {
        std::lock_guard<std::mutex> lock(lock_);
        action(core_);
    }

private:
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& datagram);
    uint32_t write(const halvex::wire::RegisterPairs& pairs, bool single);
    void keepEvents(const std::vector<hxsim::Outgoing>& sent);

    mutable std::mutex lock_;
    const hxsim::CameraConfig config_;
    hxsim::CameraCore core_;
    hxsim::SimTime now_{0};
    uint16_t requestId_ = 0;
    uint64_t datagrams_ = 0;
    uint32_t failure_ = 0;
    uint32_t readFailure_ = 0;
    halvex::wire::RegisterPairs events_;
    std::vector<halvex::wire::RegisterPairs> multiWrites_;
};

} // namespace hx_test
