// Local network adapters: the choices made from an adapter list, free of any system call.
#include "platform/netutils.h"

namespace HX_NETUTILS {

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

} // namespace HX_NETUTILS
