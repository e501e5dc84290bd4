// Stand-in cameras on loopback, reached by a host built from the wire codecs: discovery,
// registers of several cameras, recording with state events, and faults seen on the wire.
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

std::vector<CameraConfig> threeCameras(double timeScale = 1.0) {
    CameraConfig first;
    first.address = kFirst;
    first.userName = "rig";
    first.timeScale = timeScale;
    first.hearBroadcast = true;
    return Cluster::numbered(first, 3);
}

// Events that arrive on `port` until `done` holds for the (register, value) pairs seen, or
// the deadline passes.
template <typename Done>
std::vector<std::pair<uint32_t, uint32_t>> eventsUntil(UdpPort& port, Done done, std::chrono::seconds limit = 5s) {
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    const auto deadline = Clock::now() + limit;
    while (!done(seen)) {
        auto datagram = port.receive(deadline);
        if (!datagram) {
            break;
        }
        auto decoded = HX_WIRE::decodeEventData(datagram->bytes);
        if (decoded.check == HX_WIRE::EventCheck::Ok) {
            seen.emplace_back(decoded.event.eventId, decoded.event.value);
        }
    }
    return seen;
}

bool contains(const std::vector<std::pair<uint32_t, uint32_t>>& seen, uint32_t address, uint32_t value) {
    return std::find(seen.begin(), seen.end(), std::make_pair(address, value)) != seen.end();
}

}  // namespace

TEST(SimNetwork, UnicastDiscoveryReachesEachCamera) {
    Cluster cluster(threeCameras());
    ControlClient host;
    for (uint32_t i = 0; i < 3; ++i) {
        auto reply = host.request(HX_WIRE::encodeDiscoveryCmd(host.nextId()), cameraAt(kFirst + i));
        ASSERT_TRUE(reply) << "camera " << i << " did not answer discovery";
        EXPECT_EQ(reply->from, cameraAt(kFirst + i));
        auto ack = HX_WIRE::decodeDiscoveryAck(reply->bytes);
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->userDefinedName, "rig-" + std::to_string(i + 1));
        EXPECT_EQ(HX_WIRE::judgeDiscoveryReply(*ack), HX_WIRE::DiscoveryVerdict::Accepted);
    }
}

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

TEST(SimNetwork, ArmAndTriggerReportStateChangesOnTheEventChannel) {
    // A hundred times faster than real time: 200 frames at 100 frames per second take 20 ms.
    Cluster cluster(threeCameras(100.0));
    const Endpoint camera = cameraAt(kFirst + 1);
    ControlClient host;
    UdpPort events;
    ASSERT_EQ(host.write(camera, {{GIGE_REG_ROI_WIDTH, 256}, {GIGE_REG_ROI_HEIGHT, 64}, {GIGE_REG_FRAME_RATE, 100},
                                  {GIGE_REG_RECORD_MODE, 2}, {GIGE_REG_BROC_LENGTH, 200},
                                  {GIGE_REG_TRIGGER_POSITION, 0x80000000}}),
              0);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_MCP, events.port()}, {GIGE_REG_MCDA, 0x7F000001}}), 0);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_STATE_COMMAND, 2}}), 0);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_STATE_COMMAND, 4}}), 0);
    auto seen = eventsUntil(events, [](const auto& pairs) { return contains(pairs, GIGE_REG_CAMERA_STATE, 8); });
    EXPECT_TRUE(contains(seen, GIGE_REG_CAMERA_STATE, 2)) << "no ARM event";
    EXPECT_TRUE(contains(seen, GIGE_REG_CAMERA_STATE, 4)) << "no TRIGGER event";
    ASSERT_TRUE(contains(seen, GIGE_REG_CAMERA_STATE, 8)) << "the camera did not report review";
    EXPECT_TRUE(contains(seen, GIGE_REG_PARTITION_STATE, 3));
    EXPECT_TRUE(contains(seen, GIGE_REG_PB_C140, 200));
    EXPECT_EQ(host.read(camera, GIGE_REG_PROGRESS_C090), 200u);
    EXPECT_EQ(host.read(camera, GIGE_REG_PROGRESS_C08C), 200u);
    EXPECT_EQ(host.read(cameraAt(kFirst), GIGE_REG_CAMERA_STATE), 1u) << "the other cameras stay idle";

    // The recording can be read back frame by frame, each frame carrying its number.
    cluster[1].withCore([](CameraCore& core, SimTime) {
        const auto frame = core.device().frames().frame(123);
        ASSERT_FALSE(frame.empty());
        EXPECT_EQ(SyntheticImage::frameNumberOf(frame), 123u);
    });
}

TEST(SimNetwork, FaultsShowOnTheWire) {
    auto configs = threeCameras();
    configs[0].faults.mute = true;
    configs[1].faults.channel(FaultChannel::Control).duplicate = 1;
    configs[2].faults.channel(FaultChannel::Control).errorStatus = 1;
    Cluster cluster(configs);
    ControlClient host;
    EXPECT_FALSE(host.request(HX_WIRE::encodeDiscoveryCmd(host.nextId()), cameraAt(kFirst), 200ms))
        << "a mute camera answers nothing";

    const uint16_t id = host.nextId();
    host.port().send(HX_WIRE::encodeReadRegCmd(std::vector<uint32_t>{GIGE_REG_CAMERA_STATE}, id), cameraAt(kFirst + 1));
    int copies = 0;
    const auto deadline = Clock::now() + 2s;
    while (copies < 2) {
        auto reply = host.port().receive(deadline);
        ASSERT_TRUE(reply) << "expected two copies of the answer, got " << copies;
        copies += HX_WIRE::decodeAckHeader(reply->bytes)->ackId == id;
    }

    auto refused = host.write(cameraAt(kFirst + 2), {{GIGE_REG_EXPOSURE, 321}});
    ASSERT_TRUE(refused);
    EXPECT_NE(*refused, 0);
    cluster[2].withCore([](CameraCore& core, SimTime) {
        EXPECT_NE(core.device().registers().get(GIGE_REG_EXPOSURE), 321u) << "a refused request changes nothing";
    });
}
