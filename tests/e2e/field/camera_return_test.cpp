// Cameras that drop and return: what a host had set up with a camera (its subscription, the
// camera's message channel) is set up again when the camera answers again, whatever the host
// called while it was away and even when the camera restarted meanwhile.
#include <gtest/gtest.h>

#include <memory>

#include <hx/hx.h>

#include "event_log.h"
#include "eventually.h"
#include "library_client.h"
#include "registers/register_map.h"

using hx_test::DEADLINE;
using hx_test::standInCamera;

namespace {

constexpr uint32_t SPARE = 0x7F000002;     // 127.0.0.2, host order: the cluster's only camera
constexpr uint32_t RETURNING = 0x7F000003; // started, stopped and started again by its test

hx_test::EventLog events;
// Discovery ages a silent camera out in about 1.5 s, requests in 250 ms.
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] { return std::vector<hxsim::CameraConfig>{standInCamera(SPARE, "lupa", "hxsim qT")}; },
    {{&hx_test::EventLog::callback, &events}});

HX_STATUS setup(HX_CAMERA_HANDLE camera, HX_CAPTURE_SETTINGS& record)
{
    return HX_setup_capture_syn(library.client(), camera, &record, &record);
}

TEST(ReturningCamera, ARestartedCameraSendsItsEventsToSubscribersAgain)
{
    const hxsim::CameraConfig config = standInCamera(RETURNING, "lupa", "hxsim qT");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(RETURNING);
    ASSERT_EQ(HX_subscribe(library.client(), handle), HX_STATUS_OK);
    ASSERT_TRUE(events.waitForEvent(HX_CAPTURE_CHANGE, handle, DEADLINE)) << "no state for a new subscriber";

    camera.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    EXPECT_EQ(setup(handle, record), HX_STATUS_ERROR) << "a lost camera cannot answer";

    // The camera restarts: it has forgotten where its events went.
    events.clear();
    camera = std::make_unique<hxsim::Camera>(config);
    ASSERT_TRUE(events.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the camera was never found again";
    EXPECT_TRUE(hx_test::eventually([&] { return hx_test::registerOf(*camera, HX_REGISTERS::GIGE_REG_MCP) != 0; }))
        << "the returned camera was not told where to send its events";
    ASSERT_TRUE(events.waitForEvent(HX_CAPTURE_CHANGE, handle, DEADLINE))
        << "subscribers did not get the returned camera's state";

    HX_capture_settings_init(&record, sizeof(record));
    ASSERT_EQ(setup(handle, record), HX_STATUS_OK);
    const uint32_t before = record.exposure;
    const uint32_t lowest = record.exposure_min;
    HX_capture_settings_init(&record, sizeof(record));
    record.exposure = before == lowest ? before * 2 : lowest;
    record.exposure_group_flags = record.exposure_flags = HX_FLAG_SET;
    ASSERT_EQ(setup(handle, record), HX_STATUS_OK);
    const uint32_t exposure = record.exposure; // as the camera took it
    ASSERT_NE(exposure, before);
    EXPECT_TRUE(events
                    .waitFor<HX_CAPTURE_SETTINGS>(
                        HX_CAPTURE_CHANGE,
                        [&](const HX_CAPTURE_SETTINGS& change) { return change.exposure == exposure; }, DEADLINE)
                    .has_value())
        << "the change on the returned camera never reached its subscriber";
    HX_unsubscribe(library.client(), handle);
    EXPECT_EQ(HX_release_handle(library.client(), handle), HX_STATUS_OK);
}

} // namespace
