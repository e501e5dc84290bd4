// Whether the UDP image receivers ask the system to coalesce the camera's datagrams.
#include "stream/coalesced_receive_switch.h"

#include <atomic>

namespace halvex::stream {

namespace {

std::atomic<bool> coalescingAllowed{true}; // constant-initialised, nothing to destroy at exit

} // namespace

void CoalescedReceiveSwitch::allow(bool allowed)
{
    coalescingAllowed = allowed;
}

bool CoalescedReceiveSwitch::allowed()
{
    return coalescingAllowed;
}

} // namespace halvex::stream
