// hxview camera hub: the viewer's one library client, the cameras it knows, and the routing of the
// library's events to the camera they concern.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <hx/hx.h>

#include "camera_view.h"
#include "event_feed.h"

namespace hxview {

// Threads: the library's Callback thread calls onEvent; request threads call the rest. Camera
// views are made on first use and kept until the hub goes, after the library has shut down, since
// the library may hold their buffers until then.
class CameraHub {
public:
    CameraHub(EventFeed& feed, std::string downloads);
    ~CameraHub();
    CameraHub(const CameraHub&) = delete;
    CameraHub& operator=(const CameraHub&) = delete;

    // Registers the client (discovery starts); false when the library refuses.
    bool start(bool trace);
    // Asks for a camera at this address until it answers (on a thread of its own, for a bounded
    // time); false when the hub has no library client.
    bool add(const std::string& address);
    // Ends the address look-ups and shuts the library down.
    void stop();

    // Every camera found, with its identity and whether it is lost, as JSON.
    std::string camerasJson() const;
    // The view of a known camera by its dotted address; nullptr for one the hub does not know.
    std::shared_ptr<CameraView> view(const std::string& address);

private:
    struct Known {
        HX_CAMERA_INFORMATION information{};
        bool lost = false;
    };
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);
    void event(uint32_t event, HX_CAMERA_HANDLE camera, void* data);
    void found(HX_CAMERA_HANDLE camera, const HX_CAMERA_INFORMATION& information);
    std::shared_ptr<CameraView> existingView(HX_CAMERA_HANDLE camera) const;

    EventFeed& feed_;
    const std::string downloads_;
    HX_CLIENT_HANDLE client_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::map<HX_CAMERA_HANDLE, Known> cameras_;
    std::map<HX_CAMERA_HANDLE, std::shared_ptr<CameraView>> views_;
    std::vector<std::thread> lookups_;
};

} // namespace hxview
