// Adapter choices: which links carry discovery broadcasts, and which adapter reaches a camera.
#include "platform/netutils.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if_arp.h>

#include "addresses.h"

namespace {

using halvex::platform::net_utils::Adapter;
using halvex::platform::net_utils::LinkKind;

using hx_test::ip;

Adapter adapter(const char* name, LinkKind kind, const char* address, const char* mask, bool up = true)
{
    Adapter result;
    result.name = name;
    result.kind = kind;
    result.up = up;
    result.address = ip(address);
    result.mask = ip(mask);
    return result;
}

TEST(LinkKind, OnlyEthernetFramedLinksCarryDiscoveryAndWirelessIsToldApart)
{
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_ETHER, false), LinkKind::Ethernet);
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_ETHER, true), LinkKind::Wireless);
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_LOOPBACK, false), LinkKind::Loopback);
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_NONE, false), LinkKind::Other);   // tun
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_TUNNEL, false), LinkKind::Other); // ipip
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_IPGRE, false), LinkKind::Other);
    EXPECT_EQ(halvex::platform::net_utils::linkKind(ARPHRD_SIT, false), LinkKind::Other);
}

TEST(DiscoveryTargets, DirectedBroadcastOnEveryUpEthernetOrWirelessAdapterWithAnAddress)
{
    const std::vector<Adapter> adapters = {
        adapter("lo", LinkKind::Loopback, "127.0.0.1", "255.0.0.0"),
        adapter("eth0", LinkKind::Ethernet, "192.168.1.20", "255.255.255.0"),
        adapter("wlan0", LinkKind::Wireless, "10.20.30.40", "255.255.240.0"),
        adapter("tun0", LinkKind::Other, "10.8.0.1", "255.255.255.0"),
        adapter("eth1", LinkKind::Ethernet, "0.0.0.0", "0.0.0.0"),
        adapter("eth2", LinkKind::Ethernet, "172.16.0.1", "255.255.0.0", false),
        adapter("eth3", LinkKind::Ethernet, "10.1.2.3", "255.0.0.0"),
    };
    EXPECT_EQ(halvex::platform::net_utils::discoveryTargets(adapters),
              (std::vector<uint32_t>{ip("192.168.1.255"), ip("10.20.31.255"), ip("10.255.255.255")}));
    EXPECT_TRUE(halvex::platform::net_utils::discoveryTargets({}).empty());
}

TEST(AdapterForCamera, FirstAdapterSharingTheSubnetWinsAndOthersGiveNone)
{
    const std::vector<Adapter> adapters = {
        adapter("lo", LinkKind::Loopback, "127.0.0.1", "255.0.0.0"),
        adapter("eth0", LinkKind::Ethernet, "192.168.1.20", "255.255.255.0"),
        adapter("eth1", LinkKind::Ethernet, "192.168.1.21", "255.255.255.0"),
        adapter("eth2", LinkKind::Ethernet, "0.0.0.0", "0.0.0.0"), // no address: never matches
    };
    const Adapter* found = halvex::platform::net_utils::adapterForCamera(adapters, ip("192.168.1.99"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "eth0");
    found = halvex::platform::net_utils::adapterForCamera(adapters, ip("127.0.0.2"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "lo");
    EXPECT_EQ(halvex::platform::net_utils::adapterForCamera(adapters, ip("192.168.2.99")), nullptr);
}

TEST(SingleHost, BroadcastAndMulticastAddressesAreNoCameraAddresses)
{
    const std::vector<Adapter> adapters = {
        adapter("eth0", LinkKind::Ethernet, "192.168.1.20", "255.255.255.0"),
        adapter("ptp0", LinkKind::Other, "10.9.9.9", "255.255.255.255"), // a /32: its "broadcast" is itself
    };
    for (const char* camera : {"192.168.1.30", "127.0.0.2", "10.9.9.9", "223.255.255.254", "240.0.0.1"}) {
        EXPECT_TRUE(halvex::platform::net_utils::isSingleHost(ip(camera), adapters)) << camera;
    }
    for (const char* notCamera : {"0.0.0.0", "255.255.255.255", "192.168.1.255", "224.0.0.1", "239.255.255.250"}) {
        EXPECT_FALSE(halvex::platform::net_utils::isSingleHost(ip(notCamera), adapters)) << notCamera;
    }
}

} // namespace
