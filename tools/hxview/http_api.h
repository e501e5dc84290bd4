// hxview HTTP API: the page, its JSON API and the server-sent event stream, as routes of an
// httplib server.
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>

#include "camera_hub.h"
#include "event_feed.h"

namespace hxview {

// Routes run on the server's worker threads. The hub and feed outlive the server.
class HttpApi {
public:
    HttpApi(CameraHub& hub, EventFeed& feed);
    // Adds every route, the error and exception handlers and the request limits.
    void install(httplib::Server& server);

private:
    void camerasRoutes(httplib::Server& server);
    void cameraRoutes(httplib::Server& server);
    void imageRoutes(httplib::Server& server);
    void fileRoutes(httplib::Server& server);
    void events(const httplib::Request& request, httplib::Response& response);
    void zip(const httplib::Request& request, httplib::Response& response);
    // Runs `action` on the view of the camera the path names, or answers 404.
    template <typename Action>
    void withCamera(const httplib::Request& request, httplib::Response& response, Action action);

    CameraHub& hub_;
    EventFeed& feed_;
    // Each event stream holds a server worker for as long as its page is open.
    std::shared_ptr<std::atomic<int>> eventStreams_ = std::make_shared<std::atomic<int>>(0);
};

} // namespace hxview
