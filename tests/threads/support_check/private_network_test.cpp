// The namespace harness itself: a socket-opening test must never see the host's interfaces.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <set>
#include <string>

#include "private_network.h"

TEST(PrivateNetwork, OnlyLoopbackIsVisibleAndUp)
{
    ASSERT_TRUE(hx_test::inPrivateNetwork());
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    std::set<std::string> names;
    bool loopbackUp = false;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        names.insert(entry->ifa_name);
        if (std::string(entry->ifa_name) == "lo")
            loopbackUp = (entry->ifa_flags & IFF_UP) != 0;
    }
    freeifaddrs(list);
    EXPECT_TRUE(loopbackUp);
    if (getenv("HX_PEER_NETNS") == nullptr) {
        EXPECT_EQ(names, std::set<std::string>{"lo"});
    }
}
