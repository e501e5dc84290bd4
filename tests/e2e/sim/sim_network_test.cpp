// Stand-in cameras on loopback, reached by a host built from the wire codecs: each answers a
// broadcast from its own address. (Recording, events and faults are the camera core's, tested
// without a network; the library's end-to-end tests cross the network, where thirteen cameras
// keep their own registers.)
#include <gtest/gtest.h>

#include <map>

#include "sim/net/cluster.h"
#include "sim_client.h"
#include "wire/discovery_packet.h"

using namespace hxsim;
using namespace hxsim_test;

namespace {

constexpr uint32_t kFirst = 0x7F000002; // 127.0.0.2

std::vector<CameraConfig> threeCameras()
{
    CameraConfig first;
    first.address = kFirst;
    first.userName = "rig";
    first.hearBroadcast = true;
    return Cluster::numbered(first, 3);
}

} // namespace

TEST(SimNetwork, BroadcastDiscoveryIsAnsweredFromEachOwnAddress)
{
    Cluster cluster(threeCameras());
    UdpPort host(true);
    host.send(halvex::wire::encodeDiscoveryCmd(9), Endpoint{0x7FFFFFFF, halvex::wire::kControlPort});
    std::map<uint32_t, std::string> answered;
    const auto deadline = Clock::now() + 3s;
    while (answered.size() < 3) {
        auto reply = host.receive(deadline);
        ASSERT_TRUE(reply) << "only " << answered.size() << " cameras answered the broadcast";
        auto ack = halvex::wire::decodeDiscoveryAck(reply->bytes);
        ASSERT_TRUE(ack);
        EXPECT_EQ(reply->from.port, halvex::wire::kControlPort);
        answered[reply->from.address] = ack->userDefinedName;
    }
    EXPECT_EQ(answered,
              (std::map<uint32_t, std::string>{{kFirst, "rig-1"}, {kFirst + 1, "rig-2"}, {kFirst + 2, "rig-3"}}));
}
