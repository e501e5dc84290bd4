// Session: registration, discovered cameras and camera lookup through the public API.
#include "session.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace halvex::common {

Session::Session(bool trace)
{
    if (trace) {
        HX_trace(1);
    }
    if (HX_register(&client_, &Session::onEvent, this) != HX_STATUS_OK) {
        client_ = 0;
    }
}

Session::~Session()
{
    if (client_ != 0) {
        HX_unregister(client_);
    }
    HX_shutdown();
}

void Session::onEvent(uint32_t event, HX_CLIENT_HANDLE /*client*/, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    if (event == HX_DISCOVERY && data != nullptr && cookie != nullptr) {
        static_cast<Session*>(cookie)->cameraFound(camera, *static_cast<const HX_CAMERA_INFORMATION*>(data));
    }
}

void Session::cameraFound(HX_CAMERA_HANDLE camera, const HX_CAMERA_INFORMATION& information)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        found_[camera] = information;
    }
    changed_.notify_all();
}

std::map<HX_CAMERA_HANDLE, HX_CAMERA_INFORMATION> Session::discovered() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return found_;
}

void Session::collect(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::unique_lock<std::mutex> guard(lock_);
    // Nothing ends the wait early: every camera that answers within it is wanted.
    while (changed_.wait_until(guard, deadline) != std::cv_status::timeout) {
    }
}

// A camera that is not there yet (one still starting, or a name discovery has not seen) is asked
// for again until `wait` has passed: at once when discovery reports a camera, else every 200 ms.
bool Session::findCamera(const std::string& target, std::chrono::milliseconds wait, HX_CAMERA_HANDLE& camera)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (HX_get_handle_by_name(client_, &camera, target.c_str()) != HX_STATUS_OK) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_until(guard, std::min(deadline, now + std::chrono::milliseconds(200)));
    }
    return true;
}

std::string cameraAddress(HX_CAMERA_HANDLE camera)
{
    // The handle holds the address in network order: its bytes in memory are the dotted parts.
    const auto value = static_cast<uint32_t>(camera);
    std::array<unsigned char, 4> parts{};
    std::memcpy(parts.data(), &value, parts.size());
    return std::to_string(parts[0]) + '.' + std::to_string(parts[1]) + '.' + std::to_string(parts[2]) + '.' +
           std::to_string(parts[3]);
}

} // namespace halvex::common
