// Whether the UDP image receivers ask the system to coalesce the camera's datagrams.
#pragma once

namespace halvex::stream {

// On by default. Off for a test that needs the plain receive, or a host whose network delivers
// coalesced datagrams wrongly (the environment's HX_UDP_GRO=0 also turns it off). Read as each
// receiver starts; any thread.
class CoalescedReceiveSwitch {
public:
    static void allow(bool allowed);
    static bool allowed();
};

} // namespace halvex::stream
