// Local network adapters on POSIX: getifaddrs for addresses and link types, connected UDP
// sockets for the route toward a camera on another subnet.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/netutils.h"
#include "platform/unique_fd.h"

namespace halvex::platform::net_utils {
namespace {

using IfaddrsList = std::unique_ptr<ifaddrs, decltype(&freeifaddrs)>;

// "eth0:1" is an address label of eth0; the interface is the part before the colon.
std::string interfaceOf(const char* label)
{
    const std::string text(label);
    return text.substr(0, text.find(':'));
}

// The wireless-extension name query (SIOCGIWNAME). Its header clashes with <net/if.h>, and the
// query needs no more than an interface request: only wireless drivers answer it.
constexpr unsigned long WIRELESS_NAME_QUERY = 0x8B01;

bool isWireless(int probeSocket, const std::string& name)
{
    if (probeSocket < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return ioctl(probeSocket, WIRELESS_NAME_QUERY, &request) == 0;
}

// Hardware type (ARPHRD_*) of every interface, from the link-layer entries of the list.
std::map<std::string, unsigned> hardwareTypes(const ifaddrs* list)
{
    std::map<std::string, unsigned> types;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET)
            continue;
        sockaddr_ll link{};
        std::memcpy(&link, entry->ifa_addr, sizeof link);
        types.emplace(entry->ifa_name, link.sll_hatype);
    }
    return types;
}

uint32_t ipv4Of(const sockaddr* address)
{
    if (address == nullptr || address->sa_family != AF_INET)
        return 0;
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    return in.sin_addr.s_addr;
}

Adapter adapterFrom(const ifaddrs& entry, const std::string& name, unsigned hardwareType, int probeSocket)
{
    Adapter adapter;
    adapter.name = name;
    adapter.index = if_nametoindex(name.c_str());
    adapter.kind = linkKind(hardwareType, isWireless(probeSocket, name));
    adapter.up = (entry.ifa_flags & IFF_UP) != 0;
    adapter.address = ipv4Of(entry.ifa_addr);
    adapter.mask = ipv4Of(entry.ifa_netmask);
    return adapter;
}

} // namespace

std::vector<Adapter> listAdapters()
{
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0)
        platform::raiseSystemError(__FILE__, __LINE__, "Could not get network interface list", errno);
    const IfaddrsList list(raw, &freeifaddrs);
    const std::map<std::string, unsigned> types = hardwareTypes(list.get());
    const platform::UniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));

    std::vector<Adapter> adapters;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const std::string name = interfaceOf(entry->ifa_name);
        bool seen = false;
        for (const Adapter& known : adapters)
            seen = seen || known.name == name;
        if (seen)
            continue; // the primary address is the interface's first one
        const auto type = types.find(name);
        adapters.push_back(adapterFrom(*entry, name, type == types.end() ? ARPHRD_VOID : type->second, probe.get()));
    }
    return adapters;
}

void adapterName(uint32_t index, std::string& name)
{
    char buffer[IF_NAMESIZE + 1] = {};
    if (if_indextoname(index, buffer) != nullptr)
        name = buffer;
}

LinkKind linkKind(unsigned hardwareType, bool wireless)
{
    if (hardwareType == ARPHRD_LOOPBACK)
        return LinkKind::Loopback;
    // Wireless interfaces present themselves as Ethernet; the wireless query tells them apart.
    if (hardwareType == ARPHRD_ETHER)
        return wireless ? LinkKind::Wireless : LinkKind::Ethernet;
    return LinkKind::Other;
}

} // namespace halvex::platform::net_utils
