// Stream buffer messages: version gate, the host record copy, release and caps.
#include <gtest/gtest.h>

#include <memory>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "hlv_thread/note.h"
#include "log_capture.h"
#include "stand_in_service.h"

using namespace halvex::callback;
using namespace halvex::camera;

namespace {

namespace ids = halvex::message_ids;
using Live = HxStream<halvex::thread::Message>;

HX_READ_STREAM recordWithVersion(uint16_t major, uint16_t minor)
{
    HX_READ_STREAM record{};
    record.ver_maj = major;
    record.ver_min = minor;
    return record;
}

TEST(StreamBuffer, OnlyTheInterfaceVersionIsAccepted)
{
    hx_test::LogCapture log;
    for (auto [major, minor] : {std::pair{2, 11}, std::pair{3, 12}, std::pair{1, 12}}) {
        HX_READ_STREAM record = recordWithVersion(static_cast<uint16_t>(major), static_cast<uint16_t>(minor));
        try {
            Live message(ids::LIVE_STREAM_MSG, &record, nullptr, 1, 2);
            ADD_FAILURE() << "version " << major << "." << minor << " accepted";
        } catch (const halvex::thread::RuntimeError& e) {
            EXPECT_NE(e.str().find("Wrong API version"), std::string::npos);
        }
    }
    EXPECT_EQ(log.lines().size(), 3u) << "each refused record is logged once";

    HX_READ_STREAM good = recordWithVersion(2, 12);
    EXPECT_NO_THROW(Live(ids::LIVE_STREAM_MSG, &good, nullptr, 1, 2));
    EXPECT_NO_THROW(Live(ids::LIVE_STREAM_MSG, nullptr, nullptr, 1, 2)) << "a buffer-less live switch has no record";
}

TEST(StreamBuffer, KeepsACopyAndGivesReleasedBuffersBackMarked)
{
    char memory[16];
    HX_READ_STREAM host{};
    ASSERT_EQ(HX_read_stream_init(&host, sizeof host), HX_STATUS_OK);
    host.buffer = memory;
    host.buffer_size = 0x100000000ull;
    host.status = HX_STREAM_STATUS_LEADER;

    Live message(ids::DOWNLOAD_STREAM_MSG, &host, nullptr, 7, hx_test::loopbackCamera(2));
    EXPECT_EQ(message.req, ids::DOWNLOAD_STREAM_MSG);
    EXPECT_EQ(message.buffer(), memory);
    EXPECT_EQ(message.bufferSize(), 0x7FFFFFFFu) << "the usable length is capped";
    EXPECT_EQ(message.clientHandle(), 7u);
    EXPECT_EQ(message.cameraName(), "") << "no service: no name";
    EXPECT_EQ(message.cameraAddress(), 0u);
    EXPECT_FALSE(message.enable || message.stop || message.released);

    message.setResults(10, 11, HX_STREAM_STATUS_COMPLETE | HX_STREAM_STATUS_LEADER, 12);
    message.release();
    EXPECT_TRUE(message.released);
    EXPECT_EQ(message.record().status, 1u + 2u + 12u) << "earlier bits plus ERROR and LAST";
    EXPECT_EQ(message.record().image_length, 0u);
    EXPECT_EQ(message.record().received_length, 0u);
    EXPECT_EQ(message.record().frame_id, 0u);
    EXPECT_EQ(host.status, static_cast<uint32_t>(HX_STREAM_STATUS_LEADER)) << "the host record waits for copy-back";
    message.copyBack();
    EXPECT_EQ(host.status, 15u);
    EXPECT_EQ(host.buffer, memory);

    Live bufferless(ids::LIVE_STREAM_MSG, nullptr, nullptr, 7, 0);
    bufferless.setResults(1, 2, 3, 4);
    bufferless.copyBack();
    EXPECT_EQ(bufferless.buffer(), nullptr);
}

TEST(StreamBuffer, TakesNameAndAddressFromAServiceButOnlyAWeakReference)
{
    const uint32_t address = static_cast<uint32_t>(hx_test::loopbackCamera(9));
    auto service = std::make_shared<CameraServices>(address);
    HX_READ_STREAM host{};
    ASSERT_EQ(HX_read_stream_init(&host, sizeof host), HX_STATUS_OK);
    Live message(ids::LIVE_STREAM_MSG, &host, service, 1, address);
    EXPECT_EQ(message.cameraName(), "127.0.0.9");
    EXPECT_EQ(message.cameraAddress(), address);
    EXPECT_EQ(message.service(), service);
    service.reset();
    EXPECT_EQ(message.service(), nullptr) << "a pending buffer does not keep a service alive";
}

} // namespace
