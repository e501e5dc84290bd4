// Adapter enumeration against real links made inside the test's private network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdlib>
#include <string>

#include "addresses.h"
#include "platform/netutils.h"

namespace {

using halvex::platform::net_utils::Adapter;
using halvex::platform::net_utils::LinkKind;

using hx_test::ip;

bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

const Adapter* named(const std::vector<Adapter>& adapters, const std::string& name)
{
    for (const Adapter& adapter : adapters) {
        if (adapter.name == name)
            return &adapter;
    }
    return nullptr;
}

// An Ethernet pair (one end with two addresses, the other with none) and a tunnel with an address.
class Adapters : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!shell("ip link add hxa0 type veth peer name hxa1")) {
            GTEST_SKIP() << "cannot create a veth pair here (needs iproute2 and CAP_NET_ADMIN in the namespace)";
        }
        ASSERT_TRUE(shell("ip addr add 192.168.77.20/24 dev hxa0"));
        ASSERT_TRUE(shell("ip addr add 192.168.77.30/24 dev hxa0"));
        ASSERT_TRUE(shell("ip link set hxa0 up && ip link set hxa1 up"));
        ASSERT_TRUE(
            shell("ip tuntap add dev hxt0 mode tun && ip addr add 10.9.0.1/24 dev hxt0 && ip link set hxt0 up"));
    }
    void TearDown() override
    {
        shell("ip link del hxa0");
        shell("ip link del hxt0");
    }
};

TEST_F(Adapters, EachInterfaceIsListedWithItsPrimaryAddressAndOnlyEthernetGetsABroadcast)
{
    const std::vector<Adapter> adapters = halvex::platform::net_utils::listAdapters();
    const Adapter* loopback = named(adapters, "lo");
    ASSERT_NE(loopback, nullptr);
    EXPECT_EQ(loopback->kind, LinkKind::Loopback);
    EXPECT_EQ(loopback->address, ip("127.0.0.1"));

    const Adapter* ethernet = named(adapters, "hxa0");
    ASSERT_NE(ethernet, nullptr);
    EXPECT_EQ(ethernet->kind, LinkKind::Ethernet);
    EXPECT_TRUE(ethernet->up);
    EXPECT_EQ(ethernet->address, ip("192.168.77.20"));
    EXPECT_EQ(ethernet->mask, ip("255.255.255.0"));
    EXPECT_EQ(ethernet->index, if_nametoindex("hxa0"));

    const Adapter* tunnel = named(adapters, "hxt0");
    ASSERT_NE(tunnel, nullptr);
    EXPECT_EQ(tunnel->kind, LinkKind::Other);
    EXPECT_EQ(named(adapters, "hxa1"), nullptr) << "an interface without an IPv4 address is not an adapter";

    EXPECT_EQ(halvex::platform::net_utils::discoveryTargets(adapters), std::vector<uint32_t>{ip("192.168.77.255")});
    ASSERT_TRUE(shell("ip link set hxa0 down"));
    EXPECT_TRUE(halvex::platform::net_utils::discoveryTargets(halvex::platform::net_utils::listAdapters()).empty());
}

TEST_F(Adapters, CameraOnALocalSubnetIsReachedThroughItsAdapter)
{
    uint32_t local = 0;
    EXPECT_EQ(halvex::platform::net_utils::interfaceForCamera(ip("192.168.77.99"), &local), if_nametoindex("hxa0"));
    EXPECT_EQ(local, ntohl(ip("192.168.77.20")));
    std::string name;
    EXPECT_TRUE(halvex::platform::net_utils::localAdapterOfCamera(ip("192.168.77.99"), name));
    EXPECT_EQ(name, "hxa0");
    EXPECT_TRUE(halvex::platform::net_utils::localAdapterOfCamera(ip("127.0.0.2"), name));
    EXPECT_EQ(name, "lo");
    EXPECT_EQ(halvex::platform::net_utils::localAddressToward(ip("192.168.77.99")), ntohl(ip("192.168.77.20")));
}

TEST_F(Adapters, CameraOnAnotherSubnetHasNoAdapterButARouteGivesTheLocalAddress)
{
    std::string name = "stale";
    EXPECT_EQ(halvex::platform::net_utils::interfaceForCamera(ip("172.16.5.5")),
              halvex::platform::net_utils::NO_INTERFACE);
    EXPECT_FALSE(halvex::platform::net_utils::localAdapterOfCamera(ip("172.16.5.5"), name));
    EXPECT_EQ(name, "");
    EXPECT_EQ(halvex::platform::net_utils::localAddressToward(ip("172.16.5.5")), 0u) << "no route yet";
    ASSERT_TRUE(shell("ip route add 172.16.0.0/16 via 192.168.77.1 dev hxa0"));
    EXPECT_EQ(halvex::platform::net_utils::localAddressToward(ip("172.16.5.5")), ntohl(ip("192.168.77.20")));
}

} // namespace
