// Library shutdown with clients, subscriptions and buffers still registered: every thread ends, nothing restarts.
#include <gtest/gtest.h>

#include <vector>

#include <hx/hx.h>

#include "camera/camera_services.h"
#include "log_capture.h"
#include "stand_in_service.h"

using namespace halvex::camera;

namespace {

using hx_test::CallbackRecorder;

TEST(Shutdown, EndsEveryThreadWithWorkInFlightAndRefusesToStartAgain)
{
    const HX_CAMERA_HANDLE camera = hx_test::addCamera(2);
    hx_test::installStandIns().operationsOf(static_cast<uint32_t>(camera))->holdStreams(true);
    CallbackRecorder events;
    HX_CLIENT_HANDLE first = 0;
    HX_CLIENT_HANDLE second = 0;
    ASSERT_EQ(HX_register(&first, &CallbackRecorder::callback, &events), HX_STATUS_OK);
    ASSERT_EQ(HX_register(&second, &CallbackRecorder::callback, &events), HX_STATUS_OK);
    ASSERT_EQ(HX_subscribe(first, camera), HX_STATUS_OK);

    std::vector<unsigned char> memory(HX_STREAM_MIN_BUFFER_SIZE);
    std::vector<HX_READ_STREAM> buffers(3);
    for (HX_READ_STREAM& buffer : buffers) {
        HX_read_stream_init(&buffer, sizeof buffer);
        buffer.buffer = memory.data();
        buffer.buffer_size = memory.size();
        ASSERT_EQ(HX_live(second, camera, &buffer), HX_STATUS_OK);
    }
    hx_test::drainService(camera);

    HX_trace(1);
    hx_test::LogCapture log;
    ASSERT_EQ(HX_shutdown(), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_shutdown: done"), 1u);
    EXPECT_EQ(log.count("Message received after HALT"), 0u);
    EXPECT_EQ(log.count("stream buffers still lent are not handed back"), 1u) << "one line for all three";
    for (const HX_READ_STREAM& buffer : buffers)
        EXPECT_EQ(buffer.status, 0u) << "after shutdown the library no longer writes host records";
    EXPECT_FALSE(CameraServices::exists(static_cast<uint32_t>(camera)));
    EXPECT_EQ(HX_shutdown(), HX_STATUS_OK) << "a second shutdown finds everything halted";

    EXPECT_EQ(HX_lockCamera(first, camera), HX_STATUS_ERROR);
    EXPECT_EQ(HX_unregister(second), HX_STATUS_ERROR);
    EXPECT_GE(log.count("Client handle "), 2u);
    HX_CLIENT_HANDLE late = 0;
    EXPECT_EQ(HX_register(&late, &CallbackRecorder::callback, &events), HX_STATUS_ERROR);
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(log.count("Could not register new client."), 1u);
    EXPECT_EQ(HX_discover_pause(1), HX_STATUS_OK);
    EXPECT_FALSE(CameraServices::factory(static_cast<uint32_t>(camera))) << "no camera service after shutdown";
    EXPECT_EQ(events.count(), 0u);
}

} // namespace
