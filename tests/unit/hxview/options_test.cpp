// The viewer's command line: camera and listening addresses are dotted IPv4 addresses, read the
// same way on every platform, and anything else is refused with the option named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

using hxview::isDottedAddress;

TEST(ViewerOptions, DottedAddressesAreFourDecimalPartsUpTo255)
{
    for (const char* good : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.20.30.40", "192.168.100.9"})
        EXPECT_TRUE(isDottedAddress(good)) << good;
    const std::string withNul("127.0.0.1\0.2", 12);
    for (const std::string& bad :
         {std::string(), std::string("127.0.0"), std::string("127.0.0.1.5"), std::string("127.0.0.256"),
          std::string("1000.0.0.1"), std::string("127.00.0.1"), std::string("010.0.0.1"), std::string("127..0.1"),
          std::string("127.0.0.1."), std::string(".127.0.0.1"), std::string("127.0.0.1 "), std::string(" 127.0.0.1"),
          std::string("127.0.0.+1"), std::string("127.0.0.-1"), std::string("0x7f.0.0.1"), std::string("localhost"),
          std::string("::1"), withNul})
        EXPECT_FALSE(isDottedAddress(bad)) << bad;
}

TEST(ViewerOptions, ListenAndCameraAddressesAreCheckedAndKept)
{
    hxview::ViewOptions options;
    std::string error;
    ASSERT_TRUE(hxview::parseViewOptions({"--listen", "127.0.0.5:0", "--address", "127.0.0.2", "--address", "10.0.0.7"},
                                         options, error))
        << error;
    EXPECT_EQ(options.host, "127.0.0.5");
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.addresses, (std::vector<std::string>{"127.0.0.2", "10.0.0.7"}));

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"--listen", "127.0.0.01:8023"},
                                                                                     {"--listen", "localhost:8023"},
                                                                                     {"--listen", "127.0.0.1:65536"},
                                                                                     {"--address", "127.0.0.1:8023"},
                                                                                     {"--address", "300.1.1.1"}}) {
        hxview::ViewOptions rejected;
        error.clear();
        EXPECT_FALSE(hxview::parseViewOptions(bad, rejected, error)) << bad[1];
        EXPECT_NE(error.find(bad[0]), std::string::npos) << error;
    }
}

} // namespace
