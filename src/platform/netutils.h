// Local network adapters: which ones carry discovery broadcasts, and which one reaches a camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvex::platform {

// Every function here is stateless and may run on any thread. Addresses and masks are IPv4 in
// network byte order (as in a socket address) unless a name says otherwise.
namespace net_utils {

// The link a local interface sits on; discovery is broadcast only on Ethernet and wireless links.
enum class LinkKind { Ethernet, Wireless, Loopback, Other };

// One local interface and its primary (first) IPv4 address; address 0 when it has none.
struct Adapter {
    std::string name;
    uint32_t index = 0;
    LinkKind kind = LinkKind::Other;
    bool up = false;
    uint32_t address = 0;
    uint32_t mask = 0;
};

// The interface index returned when no local interface shares a camera's subnet.
inline constexpr uint32_t NO_INTERFACE = 0xFFFFFFFF;

// The UDP port cameras answer discovery on.
inline constexpr uint16_t DISCOVERY_PORT = 3956;

// Classifies a link from this system's hardware type (ARPHRD_* on Linux, the interface type on
// Windows: 6 Ethernet, 71 wireless, 24 loopback) and whether it answers
// wireless queries.
LinkKind linkKind(unsigned hardwareType, bool wireless);

// The directed-broadcast address (address OR NOT mask) of every adapter that carries discovery:
// Ethernet or wireless, up, with an address. Order follows the adapter list.
std::vector<uint32_t> discoveryTargets(const std::vector<Adapter>& adapters);

// True for an address one camera can have: not 0.0.0.0, not multicast, not the limited broadcast
// and not the directed broadcast of any adapter (a request sent there would reach many).
bool isSingleHost(uint32_t address, const std::vector<Adapter>& adapters);

// The first adapter whose primary address shares the camera's subnet, or nullptr.
const Adapter* adapterForCamera(const std::vector<Adapter>& adapters, uint32_t camera);

// The local interfaces, one entry per interface that has an IPv4 address, in the system's order.
// Throws thread::RuntimeError "Could not get network interface list" when they cannot be read.
std::vector<Adapter> listAdapters();

// The index of the local interface whose primary address lies in the camera's subnet, or
// NO_INTERFACE. When asked, `localAddressHostOrder` receives that interface's address in host order.
uint32_t interfaceForCamera(uint32_t camera, uint32_t* localAddressHostOrder = nullptr);

// Fills `name` with the name of the interface that has `index`; leaves it unchanged when none has.
void adapterName(uint32_t index, std::string& name);

// The name of the local adapter that reaches the camera; false (and an empty name) when no local
// subnet holds the camera.
bool localAdapterOfCamera(uint32_t camera, std::string& name);

// The local address (host order) the system uses toward the camera: the address of the interface
// sharing its subnet, otherwise the source address of a UDP socket connected to it (a camera on
// another subnet, reached through a route). 0 when the camera is unreachable.
uint32_t localAddressToward(uint32_t camera);

} // namespace net_utils

} // namespace halvex::platform
