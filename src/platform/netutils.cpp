// Local network adapters: the choices made from an adapter list, and the route toward a camera,
// through the system calls of platform/ rather than their own.
#include "platform/netutils.h"

#include "platform/ipv4_endpoint.h"
#include "platform/socket_calls.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"

namespace halvex::platform::net_utils {

std::vector<uint32_t> discoveryTargets(const std::vector<Adapter>& adapters)
{
    std::vector<uint32_t> targets;
    for (const Adapter& adapter : adapters) {
        const bool carriesDiscovery = adapter.kind == LinkKind::Ethernet || adapter.kind == LinkKind::Wireless;
        if (!carriesDiscovery || !adapter.up || adapter.address == 0)
            continue;
        // Bitwise operations are the same in either byte order, so this works on network order.
        targets.push_back(adapter.address | ~adapter.mask);
    }
    return targets;
}

bool isSingleHost(uint32_t address, const std::vector<Adapter>& adapters)
{
    const uint8_t firstOctet = reinterpret_cast<const uint8_t*>(&address)[0]; // network order
    if (address == 0 || address == 0xFFFFFFFF || (firstOctet >= 224 && firstOctet <= 239))
        return false;
    for (const Adapter& adapter : adapters) {
        if (adapter.address != 0 && adapter.mask != 0xFFFFFFFF && address == (adapter.address | ~adapter.mask))
            return false;
    }
    return true;
}

const Adapter* adapterForCamera(const std::vector<Adapter>& adapters, uint32_t camera)
{
    for (const Adapter& adapter : adapters) {
        if (adapter.address != 0 && (camera & adapter.mask) == (adapter.address & adapter.mask))
            return &adapter;
    }
    return nullptr;
}

uint32_t interfaceForCamera(uint32_t camera, uint32_t* localAddressHostOrder)
{
    const std::vector<Adapter> adapters = listAdapters();
    const Adapter* adapter = adapterForCamera(adapters, camera);
    if (adapter == nullptr)
        return NO_INTERFACE;
    if (localAddressHostOrder != nullptr)
        *localAddressHostOrder = platform::networkToHost(adapter->address);
    return adapter->index;
}

bool localAdapterOfCamera(uint32_t camera, std::string& name)
{
    name.clear();
    const uint32_t index = interfaceForCamera(camera);
    if (index == NO_INTERFACE)
        return false;
    adapterName(index, name);
    return !name.empty();
}

uint32_t localAddressToward(uint32_t camera)
{
    uint32_t local = 0;
    if (interfaceForCamera(camera, &local) != NO_INTERFACE)
        return local;
    // No local subnet holds the camera: ask the routing table which source address a datagram
    // socket connected to it would use (connecting sends nothing).
    const platform::SocketLibrary sockets;
    if (!sockets.started())
        return 0;
    const platform::UniqueFd probe = platform::openSocket(platform::SocketType::Datagram);
    int error = 0;
    if (!probe.valid() ||
        platform::connectTo(probe.get(), {camera, DISCOVERY_PORT}, error) != platform::ConnectStatus::Connected)
        return 0;
    return platform::networkToHost(platform::localEndpoint(probe.get()).address);
}

} // namespace halvex::platform::net_utils
