// The library and its stand-in cameras for an end-to-end test program: cameras on loopback,
// registered clients, and the calls every such test makes to reach a camera.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "log_capture.h"
#include "sim/net/cluster.h"

namespace hx_test {

// A client to register: the host callback (none for a client without one) and its cookie.
struct ClientCallback {
    HX_CALLBACK callback = nullptr;
    void* cookie = nullptr;
};

// Started once per test program, after the private-namespace main has run: scales the library's
// periods, starts the cameras and registers the clients; at the end unregisters them, shuts the
// library down (a library is started once per process) and stops the cameras. With HX_TEST_TRACE
// set in the environment the library traces its work, for looking into a failing run.
class LibraryClient : public ::testing::Environment {
public:
    using Cameras = std::function<std::vector<hxsim::CameraConfig>()>;

    // Adds the environment to the test program. The cameras are described when it starts, so
    // their descriptions may use tables that static initialisation has not built yet.
    static LibraryClient& add(Cameras cameras, std::vector<ClientCallback> clients = {ClientCallback{}},
                              double periodScale = 0.05);

    void SetUp() override;
    void TearDown() override;

    HX_CLIENT_HANDLE client(std::size_t index = 0) const { return handles_.at(index); }
    // The camera of the cluster at `index`, in the order the cameras were described.
    hxsim::Camera& camera(std::size_t index) { return (*cluster_)[index]; }
    // The camera at an address, added through the first client.
    HX_CAMERA_HANDLE handleOf(uint32_t hostOrderAddress) const;
    // Sets the camera up with the record through the first client; the record comes back as the
    // camera then holds it.
    HX_STATUS setupCapture(HX_CAMERA_HANDLE camera, HX_CAPTURE_SETTINGS& record) const;
    // The camera's capture settings as a fresh record reads them; a refused read is a test failure.
    HX_CAPTURE_SETTINGS captureSettings(HX_CAMERA_HANDLE camera) const;

private:
    LibraryClient(Cameras cameras, std::vector<ClientCallback> clients, double periodScale);

    Cameras cameras_;
    std::vector<ClientCallback> callbacks_;
    double periodScale_;
    std::vector<HX_CLIENT_HANDLE> handles_;
    std::unique_ptr<hxsim::Cluster> cluster_;
};

// Adds the camera at the address (host order) through `client`; a failure is a test failure.
HX_CAMERA_HANDLE handleOf(HX_CLIENT_HANDLE client, uint32_t hostOrderAddress);
// A stand-in camera with 1 GiB of memory, named after its address's last number.
hxsim::CameraConfig standInCamera(uint32_t hostOrderAddress, const std::string& sensor, const std::string& model);
// A register as the stand-in camera holds it; 0xFFFFFFFF for one it does not have.
uint32_t registerOf(hxsim::Camera& camera, uint32_t address);

// What the stand-in cameras of this program log, each line led by the camera's dotted address:
// their state changes, stream changes and expiring heartbeats are what a test waits for when
// nothing in the library tells of them. LibraryClient's cameras log here; a camera a test makes
// itself does when given standInLogger().
CapturedLines& standInLines();
hxsim::Logger standInLogger();
// Matches the lines of the camera behind `camera` that contain text.
CapturedLines::Match cameraLine(HX_CAMERA_HANDLE camera, const std::string& text);

} // namespace hx_test
