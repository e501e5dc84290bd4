// Session: one registered library client for the duration of a command, the cameras
// discovery reports to it, and the lookup of a camera by name or address.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include <hx/hx.h>

namespace halvex::common {

// Registers on construction and shuts the library down on destruction. The library's callback
// thread fills the table of discovered cameras; everything else runs on the caller's thread.
class Session {
public:
    explicit Session(bool trace);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool registered() const { return client_ != 0; }
    HX_CLIENT_HANDLE client() const { return client_; }

    // The camera with this user-defined name or dotted address (an address is asked directly),
    // asked for again until it answers or `wait` has passed.
    bool findCamera(const std::string& target, std::chrono::milliseconds wait, HX_CAMERA_HANDLE& camera);
    // Waits until `wait` has passed, collecting what discovery finds.
    void collect(std::chrono::milliseconds wait);
    // The cameras discovery has reported so far, by handle.
    std::map<HX_CAMERA_HANDLE, HX_CAMERA_INFORMATION> discovered() const;

private:
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);
    void cameraFound(HX_CAMERA_HANDLE camera, const HX_CAMERA_INFORMATION& information);

    HX_CLIENT_HANDLE client_ = 0;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<HX_CAMERA_HANDLE, HX_CAMERA_INFORMATION> found_;
};

// Dotted text of a camera handle ("127.0.0.2").
std::string cameraAddress(HX_CAMERA_HANDLE camera);

} // namespace halvex::common
