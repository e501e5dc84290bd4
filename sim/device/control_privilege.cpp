// Control-channel privilege and heartbeat of the stand-in camera.
#include "sim/device/control_privilege.h"

#include "wire/control_packet.h"

namespace hxsim {

uint16_t ControlPrivilege::write(uint32_t value, Endpoint from, SimTime now)
{
    if (value != kRelease && value != kTake) {
        return halvex::wire::camera_status::kInvalidParameter;
    }
    if (holder_ && *holder_ != from) {
        return halvex::wire::camera_status::kAccessDenied;
    }
    if (value == kTake) {
        holder_ = from;
        lastBeat_ = now;
    } else {
        holder_.reset();
    }
    return halvex::wire::camera_status::kSuccess;
}

void ControlPrivilege::activity(Endpoint from, SimTime now)
{
    if (!holder_ || *holder_ == from) {
        lastBeat_ = now;
    }
}

SimTime ControlPrivilege::expiry(bool streaming, uint32_t timeoutMs) const
{
    if (!holder_ && !streaming) {
        return kNever;
    }
    return lastBeat_ + milliseconds(timeoutMs);
}

} // namespace hxsim
