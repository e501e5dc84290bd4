// Local network adapters on Windows, from the IP helper library: GetAdaptersAddresses gives each
// interface's index, name (a GUID), type, state and IPv4 addresses with their prefix lengths,
// loopback included. A connected UDP socket finds the route toward a camera on another subnet.
#include "platform/win_sockets.h"

#include <iphlpapi.h>

#include <vector>

#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/netutils.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"

namespace halvex::platform::net_utils {
namespace {

constexpr unsigned TYPE_ETHERNET = 6;
constexpr unsigned TYPE_LOOPBACK = 24;
constexpr unsigned TYPE_WIRELESS = 71;

uint32_t maskOfPrefix(unsigned length)
{
    const uint32_t hostOrder = length == 0 ? 0 : (length >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - length)) - 1));
    return htonl(hostOrder);
}

} // namespace

std::vector<Adapter> listAdapters()
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the size query and the read: ask again a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                        &size);
    }
    if (result == ERROR_NO_DATA)
        return {};
    if (result != NO_ERROR)
        platform::raiseSystemError(__FILE__, __LINE__, "Could not get network interface list",
                                   static_cast<int>(result));

    std::vector<Adapter> adapters;
    for (const IP_ADAPTER_ADDRESSES* entry = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         entry != nullptr; entry = entry->Next) {
        const IP_ADAPTER_UNICAST_ADDRESS* first = entry->FirstUnicastAddress;
        while (first != nullptr && first->Address.lpSockaddr->sa_family != AF_INET)
            first = first->Next;
        if (first == nullptr)
            continue; // only interfaces with an IPv4 address
        Adapter adapter;
        adapter.name = entry->AdapterName != nullptr ? entry->AdapterName : "";
        adapter.index = entry->IfIndex;
        adapter.kind = linkKind(entry->IfType, false);
        adapter.up = entry->OperStatus == IfOperStatusUp;
        adapter.address = reinterpret_cast<const sockaddr_in*>(first->Address.lpSockaddr)->sin_addr.s_addr;
        adapter.mask = maskOfPrefix(first->OnLinkPrefixLength);
        adapters.push_back(adapter);
    }
    return adapters;
}

void adapterName(uint32_t index, std::string& name)
{
    for (const Adapter& adapter : listAdapters()) {
        if (adapter.index == index) {
            name = adapter.name;
            return;
        }
    }
}

// Windows reports the link's own type, wireless included, so the wireless query is not needed.
LinkKind linkKind(unsigned hardwareType, bool wireless)
{
    if (hardwareType == TYPE_LOOPBACK)
        return LinkKind::Loopback;
    if (hardwareType == TYPE_WIRELESS)
        return LinkKind::Wireless;
    if (hardwareType == TYPE_ETHERNET)
        return wireless ? LinkKind::Wireless : LinkKind::Ethernet;
    return LinkKind::Other;
}

} // namespace halvex::platform::net_utils
