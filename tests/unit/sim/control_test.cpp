// The camera's control protocol: write gate, read-only and unknown registers, unacknowledged
// writes, memory reads and writes, discovery replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "core_harness.h"
#include "registers/model_codes.h"
#include "wire/discovery_packet.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace halvex::registers;
namespace status = halvex::wire::camera_status;

TEST(SimWriteGate, GatedWriteAppliesAndCountsGatePairs)
{
    CoreHarness cam;
    auto ack = cam.gatedWrite({{GIGE_REG_EXPOSURE, 500}, {GIGE_REG_TRIGGER_IN_EDGE, 1}});
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.status, status::kSuccess);
    EXPECT_EQ(ack->header.answer, halvex::wire::control_code::kWriteRegAck);
    EXPECT_EQ(ack->index, 4u); // two caller pairs plus the two gate pairs
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 500u);
    EXPECT_EQ(cam.reg(GIGE_REG_TRIGGER_IN_EDGE), 1u);
    EXPECT_EQ(cam.reg(GIGE_REG_WRITE_GATE), 0u);
}

TEST(SimWriteGate, ClosedGateRefusesAndStopsAtThatPair)
{
    CoreHarness cam;
    const uint32_t before = cam.reg(GIGE_REG_EXPOSURE);
    // Ungated registers pass, the gated one is refused, nothing after it is applied.
    auto ack = cam.write({{GIGE_REG_DOWNLOAD_START, 3}, {GIGE_REG_EXPOSURE, 700}, {GIGE_REG_DOWNLOAD_END, 9}});
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.status, status::kAccessDenied);
    EXPECT_EQ(ack->index, 1u);
    EXPECT_EQ(cam.reg(GIGE_REG_DOWNLOAD_START), 3u);
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), before);
    EXPECT_EQ(cam.reg(GIGE_REG_DOWNLOAD_END), 0u);
}

TEST(SimWriteGate, GatePersistsAcrossDatagrams)
{
    CoreHarness cam;
    ASSERT_EQ(cam.write({{GIGE_REG_WRITE_GATE, 2}})->header.status, status::kSuccess);
    EXPECT_EQ(cam.write({{GIGE_REG_EXPOSURE, 650}})->header.status, status::kSuccess);
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 650u);
    ASSERT_EQ(cam.write({{GIGE_REG_WRITE_GATE, 0}})->header.status, status::kSuccess);
    EXPECT_EQ(cam.write({{GIGE_REG_EXPOSURE, 660}})->header.status, status::kAccessDenied);
    // A refusal inside an open gate leaves the gate open.
    auto ack = cam.write({{GIGE_REG_WRITE_GATE, 2}, {GIGE_REG_SENSOR_WIDTH_MAX, 1}});
    EXPECT_EQ(ack->header.status, status::kAccessDenied);
    EXPECT_EQ(ack->index, 1u);
    EXPECT_EQ(cam.reg(GIGE_REG_WRITE_GATE), 2u);
}

TEST(SimWriteGate, ReadOnlyAndUnknownRegistersAreRefused)
{
    CoreHarness cam;
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_CAMERA_STATE, 8}})->header.status, status::kAccessDenied);
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_SENSOR_TYPE, 1}})->header.status, status::kAccessDenied);
    auto unknown = cam.gatedWrite({{GIGE_REG_EXPOSURE, 400}, {0x1234, 1}});
    EXPECT_EQ(unknown->header.status, status::kInvalidAddress);
    EXPECT_EQ(unknown->index, 2u);
    // First-family cameras have none of the second family's registers.
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_SAVE_STATE, 0x40000000}})->header.status, status::kInvalidAddress);
}

TEST(SimWriteGate, UnacknowledgedWritesApplyWithoutAnswer)
{
    CoreHarness cam;
    auto planned = halvex::wire::planSingleWrite(GIGE_REG_ANALOG_GAIN, 200 | (1u << 31));
    ASSERT_FALSE(planned.ackRequired);
    EXPECT_TRUE(cam.send(halvex::wire::encodeWriteRegCmd(planned.pairs, false, 77)).empty());
    EXPECT_EQ(cam.reg(GIGE_REG_ANALOG_GAIN), 200u);
    // Fire-and-forget with request id 0 still applies.
    EXPECT_TRUE(cam.send(halvex::wire::encodeWriteRegCmd({{{GIGE_REG_CCP, 2}}}, false, 0)).empty());
    EXPECT_EQ(cam.reg(GIGE_REG_CCP), 2u);
}

TEST(SimReads, UnknownAddressAnswersValuesUpToItAndIsLogged)
{
    std::vector<std::string> lines;
    CameraCore core(CameraConfig{}, [&](const std::string& line) { lines.push_back(line); });
    const auto request = halvex::wire::encodeReadRegCmd(
        std::vector<uint32_t>{GIGE_REG_SENSOR_WIDTH_MAX, GIGE_REG_SENSOR_HEIGHT_MAX, 0x1234, GIGE_REG_ROI_WIDTH}, 5);
    auto ack = halvex::wire::decodeReadRegAck(core.handle(request, kHost, SimTime{0}).at(0).bytes);
    EXPECT_EQ(ack->header.status, status::kInvalidAddress);
    EXPECT_EQ(ack->values, (std::vector<uint32_t>{2560, 2048}));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("unknown register 0x1234"), std::string::npos) << lines[0];
}

TEST(SimReads, AcknowledgeRepeatsRequestIdAndAnswersCommandPlusOne)
{
    CoreHarness cam;
    for (uint16_t id : {uint16_t{0}, uint16_t{1}, uint16_t{0xFFFF}}) {
        auto answers = cam.send(halvex::wire::encodeReadRegCmd(std::vector<uint32_t>{GIGE_REG_CAMERA_STATE}, id));
        auto header = halvex::wire::decodeAckHeader(answers.at(0).bytes);
        EXPECT_EQ(header->ackId, id);
        EXPECT_EQ(header->answer, 0x0081);
    }
    auto answers = cam.send({0x42, 0x01, 0x00, 0x90, 0x00, 0x00, 0x00, 0x05});
    auto header = halvex::wire::decodeAckHeader(answers.at(0).bytes);
    EXPECT_EQ(header->answer, 0x0091);
    EXPECT_EQ(header->status, status::kNotImplemented);
}

TEST(SimMemory, ReadsAlwaysTheFullCountZeroFilled)
{
    CoreHarness cam;
    auto manufacturer = cam.readMem(GIGE_REG_MANUFACTURER_NAME, 64);
    ASSERT_EQ(manufacturer.size(), 64u);
    EXPECT_EQ(std::string(manufacturer.begin(), manufacturer.begin() + 6), "halvex");
    EXPECT_EQ(manufacturer[6], 0);
    EXPECT_EQ(cam.readMem(0x7000, 0).size(), 536u); // 0 asks for the default
    auto window = cam.readMem(GIGE_REG_MODEL_NAME, 536);
    EXPECT_EQ(familyFromWindow(window), CameraFamily::Tarrow);
    // Only the model may hold a family code: blank it and the window names no family.
    std::fill(window.begin(), window.begin() + 32, 0);
    EXPECT_EQ(familyFromWindow(window), std::nullopt);
}

TEST(SimMemory, OnlyTheUserNameIsWritableAndNeverWithACode)
{
    CoreHarness cam;
    auto writeMem = [&](uint32_t address, std::string text) {
        std::vector<uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        auto answers = cam.send(halvex::wire::encodeWriteMemCmd(address, data, cam.nextId++));
        return halvex::wire::decodeAckHeader(answers.at(0).bytes)->status;
    };
    EXPECT_EQ(writeMem(GIGE_REG_USER_DEFINED_NAME, "bench-left"), status::kSuccess);
    auto name = cam.readMem(GIGE_REG_USER_DEFINED_NAME, 16);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.data())), "bench-left");
    EXPECT_EQ(writeMem(GIGE_REG_USER_DEFINED_NAME, "my-qM"), status::kInvalidParameter);
    EXPECT_EQ(writeMem(GIGE_REG_MANUFACTURER_NAME, "other"), status::kAccessDenied);
    EXPECT_EQ(writeMem(0x9000, "x"), status::kInvalidAddress);
    auto reply = halvex::wire::decodeDiscoveryAck(cam.core.discoveryReply(1));
    EXPECT_EQ(reply->userDefinedName, "bench-left");
}

TEST(SimDiscovery, ReplyCarriesIdentityAndFaultsChangeIt)
{
    CameraConfig config;
    config.address = 0x7F000005;
    config.userName = "cam-five";
    CoreHarness cam(config);
    auto answers = cam.send(halvex::wire::encodeDiscoveryCmd(42));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].channel, FaultChannel::Discovery);
    auto reply = halvex::wire::decodeDiscoveryAck(answers[0].bytes);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.ackId, 42);
    EXPECT_EQ(reply->userDefinedName, "cam-five");
    EXPECT_EQ(reply->currentIp, htonl(0x7F000005));
    EXPECT_EQ(halvex::wire::judgeDiscoveryReply(*reply), halvex::wire::DiscoveryVerdict::Accepted);

    config.faults.wrongManufacturer = true;
    EXPECT_EQ(
        halvex::wire::judgeDiscoveryReply(*halvex::wire::decodeDiscoveryAck(CameraCore(config).discoveryReply(1))),
        halvex::wire::DiscoveryVerdict::ForeignManufacturer);
    config.faults.wrongManufacturer = false;
    config.faults.oldFirmware = true;
    CameraCore old(config);
    EXPECT_EQ(halvex::wire::judgeDiscoveryReply(*halvex::wire::decodeDiscoveryAck(old.discoveryReply(1))),
              halvex::wire::DiscoveryVerdict::FirmwareTooOld);
}

TEST(SimDiscovery, BroadcastArrivalsAnswerOnlyDiscovery)
{
    CoreHarness cam;
    auto read = halvex::wire::encodeReadRegCmd(std::vector<uint32_t>{GIGE_REG_CAMERA_STATE}, 1);
    EXPECT_TRUE(cam.core.handle(read, kHost, cam.now, true).empty());
    EXPECT_EQ(cam.core.handle(halvex::wire::encodeDiscoveryCmd(1), kHost, cam.now, true).size(), 1u);
}

TEST(SimRobustness, MalformedRequestsGetAClearAnswerOrNone)
{
    CoreHarness cam;
    EXPECT_TRUE(cam.send({}).empty());
    EXPECT_TRUE(cam.send(std::vector<uint8_t>(10, 0)).empty());          // a host's event-port opener
    EXPECT_TRUE(cam.send({0x42, 0x01, 0x00, 0x80, 0x00, 0x08}).empty()); // header cut short
    // A length that claims more than arrived is no request.
    EXPECT_TRUE(cam.send({0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00}).empty());
    // A register read whose payload is not whole addresses.
    auto answers = cam.send({0x42, 0x01, 0x00, 0x80, 0x00, 0x03, 0x00, 0x01, 0xA0, 0x20, 0x00});
    EXPECT_EQ(halvex::wire::decodeAckHeader(answers.at(0).bytes)->status, status::kInvalidParameter);
    std::vector<uint32_t> tooMany(136, GIGE_REG_CAMERA_STATE);
    EXPECT_EQ(cam.read(tooMany).header.status, status::kInvalidParameter);
}

TEST(SimMemory, SecondFamilyDocumentsReadInChunksAndRewind)
{
    CameraConfig config;
    config.model = "hxsim qM";
    CoreHarness cam(config);
    cam.core.device().documents().setDocument(GIGE_REG_TELEMETRY_JSON, std::string(600, 'x'));
    EXPECT_EQ(cam.readMem(GIGE_REG_TELEMETRY_JSON, 512), std::vector<uint8_t>(512, 'x'));
    auto rest = cam.readMem(GIGE_REG_TELEMETRY_JSON, 512);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), 'x'), 88) << "the second chunk is short, then zeros";
    EXPECT_EQ(cam.write({{GIGE_REG_TELEMETRY_JSON, 0}})->header.status, status::kAccessDenied) << "gated";
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_TELEMETRY_JSON, 0}})->header.status, status::kSuccess);
    EXPECT_EQ(cam.readMem(GIGE_REG_TELEMETRY_JSON, 4), std::vector<uint8_t>(4, 'x')) << "rewound";

    const std::string settings = R"({"focus":3})";
    auto answers = cam.send(halvex::wire::encodeWriteMemCmd(
        GIGE_REG_LENS_SETTINGS_JSON, std::vector<uint8_t>(settings.begin(), settings.end()), cam.nextId++));
    EXPECT_EQ(halvex::wire::decodeAckHeader(answers.at(0).bytes)->status, status::kSuccess);
    EXPECT_EQ(cam.core.device().documents().received(GIGE_REG_LENS_SETTINGS_JSON), settings);
}

// A host that lost an acknowledge sends the same request (same id) again: it gets the same answer
// and the camera does not carry the request out a second time.
TEST(SimRepeatedRequests, ARepeatIsAnsweredAsBeforeAndNotCarriedOutAgain)
{
    CameraConfig config;
    config.model = "hxsim qM";
    CoreHarness cam(config);
    ASSERT_EQ(cam.gatedWrite({{GIGE_REG_MCP, 5826}, {GIGE_REG_MCDA, 0x7F000001}})->header.status, status::kSuccess);
    const halvex::wire::RegisterPairs exposure = {{GIGE_REG_EXPOSURE, 500}};
    const auto first = halvex::wire::encodeWriteRegCmd(halvex::wire::planMultiWrite(exposure).pairs, true, 40);
    const auto firstAnswer = cam.send(first);
    ASSERT_EQ(firstAnswer.size(), 1u);
    const std::size_t eventsAfterFirst = cam.events.size();
    EXPECT_GT(eventsAfterFirst, 0u) << "the first write changed the exposure";
    ASSERT_EQ(cam.gatedWrite({{GIGE_REG_EXPOSURE, 800}})->header.status, status::kSuccess);
    const std::size_t eventsBefore = cam.events.size();

    const auto again = cam.send(first);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again.front().bytes, firstAnswer.front().bytes);
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 800u) << "the repeat set the older value again";
    EXPECT_EQ(cam.events.size(), eventsBefore) << "a repeat changes nothing, so reports nothing";

    // A document hands out its next piece per read: a repeated read must not skip one.
    cam.core.device().documents().setDocument(GIGE_REG_TELEMETRY_JSON, "abcdefgh");
    const auto read = halvex::wire::encodeReadMemCmd(GIGE_REG_TELEMETRY_JSON, 4, 41);
    const auto piece = cam.send(read).at(0).bytes;
    EXPECT_EQ(cam.send(read).at(0).bytes, piece);
    EXPECT_EQ(cam.readMem(GIGE_REG_TELEMETRY_JSON, 4), (std::vector<uint8_t>{'e', 'f', 'g', 'h'}));

    // The same bytes from another port, or after the host's id-0 release, are a new request.
    EXPECT_EQ(halvex::wire::decodeReadMemAck(cam.send(read, kOtherHost).at(0).bytes)->data.front(), 0)
        << "the other host's read took the document's end, not the first host's answer";
    cam.send(halvex::wire::encodeWriteRegCmd({{{GIGE_REG_CCP, 0}}}, false, 0));
    cam.send(first);
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 500u) << "after the release the same bytes are a new request";
}
