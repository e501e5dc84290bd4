// hxview camera view: what the page does with one camera (state, settings, commands, live images,
// recorded frames, downloads), as JSON replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "event_feed.h"
#include "frame_download.h"
#include "live_feed.h"
#include "recorded_frames.h"
#include "zip_download.h"

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
    // A camera that would record its whole memory (minutes of frames nobody looks through in a
    // viewer) records a few seconds instead, when the viewer first meets it idle.
    void shortenRecording();
    void event(uint32_t event, void* data);

    Reply state();
    Reply capture();
    // "key=value" settings as hxcam takes them.
    Reply setCapture(const std::vector<std::string>& assignments);
    // arm, trigger or stop.
    Reply command(const std::string& name);
    Reply setLive(bool on);
    // The newest live image after `after`, waiting a little for one, and a recorded frame: the
    // pixels as samples (one byte each, or two little-endian for deeper pixels) with the frame's
    // number, size and depth in headers, so that what the page draws and labels is one frame.
    Reply liveImage(uint64_t after);
    Reply recordedImage(uint32_t frame);
    // A live image the page shows (by its sequence number) or a recorded frame, as a TIFF file.
    Reply liveSnapshot(uint64_t sequence);
    Reply recordedSnapshot(uint32_t frame);
    // Frames from..to as TIFF files in the server's folder.
    Reply download(uint32_t from, uint32_t to);
    // Frames from..to as a ZIP file to stream to the browser; nullptr with `refusal` set when the
    // download cannot start.
    std::shared_ptr<halvex::hxview::ZipDownload> zipDownload(uint32_t from, uint32_t to, Reply& refusal);
    Reply downloadStatus();

private:
    bool readState(HX_COMMAND& state);
    bool readCapture(HX_CAPTURE_SETTINGS& record);
    // The image size and depth, and the frame rate, the camera is set to.
    bool geometry(halvex::common::FrameGeometry& geometry, double& fps, std::string& error);
    Reply sendCommand(uint32_t code);
    void keepRecordingShort(HX_CAPTURE_SETTINGS& after);
    // Sets the record length to a few seconds at the record's frame rate, the outcome in `after`;
    // false when the camera would not take it.
    bool recordSeconds(HX_CAPTURE_SETTINGS& record, HX_CAPTURE_SETTINGS& after);
    static Reply pixelsReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry);
    Reply tiffReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry,
                    const std::string& name);
    std::string address() const;

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    EventFeed& feed_;
    LiveFeed live_;
    RecordedFrames frames_;
    FrameDownload download_;
    const std::string downloads_;
    // The record length is the viewer's default, not the user's.
    std::atomic<bool> shortLength_{false};
};

// {"error": text} with an HTTP status.
Reply errorReply(int status, const std::string& text);
// The name the page shows for a camera state (idle, armed, recording, review, busy).
std::string stateName(uint32_t code);

} // namespace hxview
