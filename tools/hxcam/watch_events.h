// hxcam watch: the camera's events as one line each, and the queue that carries them from the
// library's callback thread to the command's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <hx/hx.h>

namespace hxcam {

// "armed", "review", ... for a camera state; "state 0x.." for one hxcam does not know.
std::string stateName(uint32_t state);
// The commands a capabilities word allows, as "live,arm".
std::string commandNames(uint32_t caps);
// The event as one line: its name, then key=value pairs of what it carries.
std::string formatEvent(uint32_t event, HX_CAMERA_HANDLE camera, const void* data);

// Lines made on the library's callback thread (the callback runs there), taken by the command.
class EventQueue {
public:
    // The host callback; the cookie is the queue.
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);

    // The next line, or nothing when `until` has passed first.
    std::optional<std::string> next(std::chrono::steady_clock::time_point until);

private:
    std::mutex lock_;
    std::condition_variable added_;
    std::deque<std::string> lines_;
};

} // namespace hxcam
