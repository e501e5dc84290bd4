// Registration when the system's networking is missing: the host gets an error or a line saying
// why, never a crash, and the library works once the networking is there.
#include <gtest/gtest.h>

#include <hx/hx.h>

#include "log_capture.h"
#include "platform/socket_library.h"
#include "private_network.h"

namespace {

// What Winsock answers when the system's network subsystem is not ready (WSASYSNOTREADY).
constexpr int NETWORK_NOT_READY = 10091;

// One process, since a library that has shut down stays down: first sockets that will not
// start, then the host as this namespace has it, with no adapter but loopback.
TEST(NetworkStart, SocketsThatWillNotStartFailTheRegistrationAndAHostWithoutAdapterIsToldOnce)
{
    hx_test::LogCapture log;
    halvex::platform::forceSocketStartFailure(NETWORK_NOT_READY);
    HX_CLIENT_HANDLE first = 0;
    EXPECT_EQ(HX_register(&first, nullptr, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(HX_register_local(&first, nullptr, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(log.count("HX_register: Could not initialize WinSockets. Errno indicates \""), 1u);
    EXPECT_EQ(log.count("Could not initialize WinSockets"), 2u);

    halvex::platform::forceSocketStartFailure(0);
    HX_CLIENT_HANDLE second = 0;
    ASSERT_EQ(HX_register(&first, nullptr, nullptr), HX_STATUS_OK);
    ASSERT_EQ(HX_register(&second, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_NE(first, 0u);
    // Said once for the two registrations when the namespace has nothing but loopback (as the
    // system lists its interfaces), never when it has an adapter.
    const std::size_t told = log.count("No Ethernet or wireless adapter with an IPv4 address is up");
    if (const std::optional<bool> adapter = hx_test::hasIpv4Adapter())
        EXPECT_EQ(told, *adapter ? 0u : 1u);
    else
        EXPECT_LE(told, 1u);
    HX_CAMERA_HANDLE camera = 0;
    EXPECT_EQ(HX_get_handle_by_name(first, &camera, "127.0.0.9"), HX_STATUS_ERROR) << "nothing answers there";

    EXPECT_EQ(HX_unregister(first), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(second), HX_STATUS_OK);
    EXPECT_EQ(HX_shutdown(), HX_STATUS_OK);
}

} // namespace
