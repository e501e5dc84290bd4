// Exported calls and the log when memory runs out: an error status and a log line, never an exception.
#include <gtest/gtest.h>

#include <string>

#include <hx/hx.h>

#include "discovery/discovery.h"
#include "failing_allocation.h"
#include "hlv_thread/log.h"
#include "hlv_thread/period_scale.h"
#include "log_capture.h"

using namespace halvex::discovery;

namespace {

template <class Call>
std::string thrownBy(Call call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown exception";
    }
    return {};
}

// One process: discovery can be created only once, and the first attempts must fail.
TEST(FailingAllocation, DiscoveryThatCannotBeCreatedFailsEachCallWithALogLine)
{
    halvex::thread::setPeriodScale(0.05);
    hx_test::LogCapture log;
    // Any protected call wires the layers; this one fails for its unknown client only.
    EXPECT_EQ(HX_unregister(12345), HX_STATUS_ERROR);

    HX_CLIENT_HANDLE client = 0;
    HX_CAMERA_HANDLE camera = 0;
    {
        failing_allocation::FailAllocationsOfSize failing(sizeof(Discovery));
        HX_STATUS status = HX_STATUS_OK;
        EXPECT_EQ(thrownBy([&] { status = HX_discover_pause(1); }), "") << "HX_discover_pause";
        EXPECT_EQ(status, HX_STATUS_ERROR);
        EXPECT_EQ(thrownBy([&] { status = HX_get_handle_by_name(1, &camera, "127.0.0.9"); }), "")
            << "HX_get_handle_by_name";
        EXPECT_EQ(status, HX_STATUS_ERROR);
        EXPECT_EQ(thrownBy([&] { status = HX_register(&client, nullptr, nullptr); }), "") << "HX_register";
        EXPECT_EQ(status, HX_STATUS_ERROR);
    }
    EXPECT_EQ(client, 0u) << "no client is left registered behind the error";
    EXPECT_EQ(log.count("std::exception: std::bad_alloc"), 3u);

    // Once memory is back the library starts as if nothing had happened.
    ASSERT_EQ(HX_register(&client, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_EQ(HX_discover_pause(0), HX_STATUS_OK);

    // A look-up that fails says why, for an address and for a name.
    EXPECT_EQ(HX_get_handle_by_name(client, &camera, "127.0.0.9"), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("HX_get_handle_by_name: no camera answered at 127.0.0.9"), 1u);
    EXPECT_EQ(HX_get_handle_by_name(client, &camera, "nosuchcamera"), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("no camera named \"nosuchcamera\" has been discovered"), 1u);
    EXPECT_EQ(HX_shutdown(), HX_STATUS_OK);
}

TEST(FailingAllocation, ALogLineThatCannotBeBuiltThrowsNothing)
{
    bool formattedLineThrew = false;
    bool plainLineThrew = false;
    {
        failing_allocation::FailEveryAllocation failing;
        formattedLineThrew = !thrownBy([] { HLV_LOG("a line about %s", "nothing"); }).empty();
        plainLineThrew = !thrownBy([] { halvex::thread::logLine("file.cpp", 1, "a line"); }).empty();
    }
    EXPECT_FALSE(formattedLineThrew);
    EXPECT_FALSE(plainLineThrew);
}

} // namespace
