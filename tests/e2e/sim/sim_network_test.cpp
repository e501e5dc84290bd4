// Stand-in cameras on loopback, reached by a host built from the wire codecs: each answers a
// broadcast from its own address and keeps its own registers. (Recording, events and faults are
// the camera core's, tested without a network; the library's end-to-end tests cross the network.)
#include <gtest/gtest.h>

#include <map>

#include "cluster.h"
#include "registers/register_map.h"
#include "sim_client.h"
#include "wire/discovery_packet.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace HX_REGISTERS;

namespace {

constexpr uint32_t kFirst = 0x7F000002;  // 127.0.0.2

Endpoint cameraAt(uint32_t address) { return Endpoint{address, HX_WIRE::kControlPort}; }

std::vector<CameraConfig> threeCameras() {
    CameraConfig first;
    first.address = kFirst;
    first.userName = "rig";
    first.hearBroadcast = true;
    return Cluster::numbered(first, 3);
}

}  // namespace

TEST(SimNetwork, BroadcastDiscoveryIsAnsweredFromEachOwnAddress) {
    Cluster cluster(threeCameras());
    UdpPort host(true);
    host.send(HX_WIRE::encodeDiscoveryCmd(9), Endpoint{0x7FFFFFFF, HX_WIRE::kControlPort});
    std::map<uint32_t, std::string> answered;
    const auto deadline = Clock::now() + 3s;
    while (answered.size() < 3) {
        auto reply = host.receive(deadline);
        ASSERT_TRUE(reply) << "only " << answered.size() << " cameras answered the broadcast";
        auto ack = HX_WIRE::decodeDiscoveryAck(reply->bytes);
        ASSERT_TRUE(ack);
        EXPECT_EQ(reply->from.port, HX_WIRE::kControlPort);
        answered[reply->from.address] = ack->userDefinedName;
    }
    EXPECT_EQ(answered, (std::map<uint32_t, std::string>{{kFirst, "rig-1"}, {kFirst + 1, "rig-2"}, {kFirst + 2, "rig-3"}}));
}

TEST(SimNetwork, ThreeCamerasKeepTheirOwnRegisters) {
    Cluster cluster(threeCameras());
    ControlClient host;
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(host.write(cameraAt(kFirst + i), {{GIGE_REG_EXPOSURE, 100 + i}}), 0) << "camera " << i;
    }
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(host.read(cameraAt(kFirst + i), GIGE_REG_EXPOSURE), 100 + i);
        EXPECT_EQ(host.read(cameraAt(kFirst + i), GIGE_REG_SENSOR_TYPE), 0x414C3543u);
    }
    auto unknown = host.request(HX_WIRE::encodeReadRegCmd(std::vector<uint32_t>{0x1234}, host.nextId()), cameraAt(kFirst));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(HX_WIRE::decodeAckHeader(unknown->bytes)->status, HX_WIRE::CameraStatus::kInvalidAddress);
}
