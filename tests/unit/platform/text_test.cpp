// Error texts and IPv4 endpoint conversions.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "platform/socket_address.h"

namespace {

using namespace halvex::platform;

TEST(ErrnoText, GivesTheSystemTextAndTheSecondLine)
{
    EXPECT_EQ(errnoText(ENOENT), "No such file or directory");
    EXPECT_EQ(errnoIndicates(EADDRINUSE), "Errno indicates \"Address already in use\"");
    EXPECT_NE(errnoText(99999).find("99999"), std::string::npos) << errnoText(99999);
}

TEST(Ipv4Endpoint, AddressesAreKeptInNetworkOrder)
{
    const std::optional<uint32_t> address = ipv4FromText("127.0.0.2");
    ASSERT_TRUE(address);
    uint8_t bytes[4];
    std::memcpy(bytes, &*address, sizeof bytes);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[3], 2);
    EXPECT_EQ(ipv4ToText(*address), "127.0.0.2");
    EXPECT_EQ(ipv4ToText(0xFFFFFFFF), "255.255.255.255");
}

TEST(Ipv4Endpoint, MalformedTextIsRefused)
{
    for (const char* text : {"", "127.0.0", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d", "1.2.3.4.5", "0x0a.1.2.3",
                             "cam-a", "::1", "1234567890123456789"}) {
        EXPECT_FALSE(ipv4FromText(text)) << '"' << text << '"';
    }
}

TEST(Ipv4Endpoint, SocketAddressesCarryThePortInNetworkOrder)
{
    const Ipv4Endpoint endpoint{*ipv4FromText("127.0.0.2"), 3956};
    const sockaddr_in address = toSockaddr(endpoint);
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(address.sin_port, htons(3956));
    EXPECT_EQ(address.sin_addr.s_addr, endpoint.address);
    EXPECT_EQ(fromSockaddr(address), endpoint);
    EXPECT_EQ(toString(endpoint), "127.0.0.2:3956");
}

} // namespace
