// hxview camera view: what the page does with one camera (state, settings, commands, live images,
// recorded frames, downloads), as JSON replies.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "event_feed.h"
#include "frame_download.h"
#include "image_encoder.h"
#include "live_feed.h"
#include "recorded_frames.h"

namespace hxview {

// An HTTP status and its body.
struct Reply {
    Reply(int code, std::string text, std::string contentType = "application/json")
        : status(code), body(std::move(text)), type(std::move(contentType))
    {
    }
    int status;
    std::string body;
    std::string type;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Threads: request threads call the operations; the library's Callback thread calls event().
class CameraView {
public:
    CameraView(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed, std::string downloads);
    // Switches live off and waits for a running download.
    void stop();
    void event(uint32_t event, void* data);

    Reply state();
    Reply capture();
    // "key=value" settings as hxcam takes them.
    Reply setCapture(const std::vector<std::string>& assignments);
    // arm, trigger or stop.
    Reply command(const std::string& name);
    Reply setLive(bool on);
    // The newest live image after `after` as JPEG, waiting a little for one.
    Reply liveImage(uint64_t after);
    Reply recordedImage(uint32_t frame);
    Reply download(uint32_t from, uint32_t to);
    Reply downloadStatus();

private:
    bool readState(HX_COMMAND& state);
    bool readCapture(HX_CAPTURE_SETTINGS& record);
    bool geometry(halvex::common::FrameGeometry& geometry, std::string& error);
    Reply sendCommand(uint32_t code);
    Reply jpegReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry);
    std::string address() const;

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    EventFeed& feed_;
    LiveFeed live_;
    RecordedFrames frames_;
    FrameDownload download_;
    std::mutex encoding_;
    ImageEncoder encoder_;
};

// {"error": text} with an HTTP status.
Reply errorReply(int status, const std::string& text);
// The name the page shows for a camera state (idle, armed, recording, review, busy).
std::string stateName(uint32_t code);

} // namespace hxview
