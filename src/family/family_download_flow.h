// The download flow of a register-based family's camera: starting a download from the camera's
// recording, its buffers on their way back (packed when asked, the last frame recognised), and
// ending it however it ends.
#pragma once

#include <cstdint>
#include <memory>

#include <hlv_thread/log_label.h>

#include "family/download_discovery_pause.h"
#include "packing/hx_internal.h"

namespace halvex::callback {
class HxStreamBuffer;
} // namespace halvex::callback

namespace halvex::thread {
class Message;
}

namespace halvex::family {

class DownloadWatchdog;
class FamilyReceiverLink;
struct StreamFlowContext;

// A download pauses discovery polling and the heartbeat poller (the camera's heartbeat time-out is
// raised instead) and restores both however it ends: at its end frame, on a stop request, when it
// cannot start, when the watchdog finds the camera silent, and when this object goes.
//
// Threads: the camera's service thread, or an API thread, always under FamilyStreaming's flow
// lock. Construction and destruction on the owner's thread, once nothing else uses the object.
class FamilyDownloadFlow {
    HLV_LOG_CLASS(FamilyDownloadFlow);

public:
    // The download format register value that asks for packed output.
    static constexpr uint32_t PACKED_DOWNLOAD_FORMAT = 11;

    // `flow` and `link` outlive the flow.
    FamilyDownloadFlow(StreamFlowContext& flow, FamilyReceiverLink& link);
    ~FamilyDownloadFlow();
    FamilyDownloadFlow(const FamilyDownloadFlow&) = delete;
    FamilyDownloadFlow& operator=(const FamilyDownloadFlow&) = delete;

    // A download buffer or stop request from the host (or the watchdog), in-bound.
    void handleMessage(thread::Message* message, callback::HxStreamBuffer& stream);
    // A download buffer the receiver filled, on its way to the host.
    void bufferFilled(callback::HxStreamBuffer& stream);
    // Starts the download the applied download settings describe; false (and a log line) when
    // the camera holds no recording to download or the camera refused the start.
    bool kickOff();
    // Ends the download on the camera and restores heartbeat and discovery; the write's result.
    uint32_t stop();
    bool running() const;
    // The receiver goes: nothing is watched and no download runs any more.
    void forget();

private:
    // What the camera's registers say about a download about to start.
    struct Plan {
        uint32_t cameraState = 0;
        uint32_t partitionState = 0;
        uint32_t recordedFrames = 0;
        uint32_t startFrame = 0;
        uint32_t endFrame = 0;
        uint32_t format = 0;
    };

    bool staleWatchdogStop(const thread::Message* message) const;
    void startSession(thread::Message* message, callback::HxStreamBuffer& stream);
    void refuseStart(thread::Message* message, callback::HxStreamBuffer& stream);
    bool readPlan(Plan& plan);
    bool possible(const Plan& plan) const;
    bool startCamera(const Plan& plan);
    void leaveDownloadMode();
    void releaseBuffers();
    packing::PackingImage recordedImage() const;
    DownloadWatchdog& watchdog();
    void watchdogProgress();

    StreamFlowContext& flow_;
    FamilyReceiverLink& link_;
    bool running_ = false;
    // The download started last, so a watchdog's stop is matched with the download it watched.
    uint64_t session_ = 0;
    uint32_t endFrame_ = 0;
    uint32_t format_ = 0;
    packing::PackingImage packingImage_;
    // Declared before the watchdog, so the watchdog stops before the pause ends.
    DownloadDiscoveryPause discoveryPause_;
    std::unique_ptr<DownloadWatchdog> watchdog_;
};

} // namespace halvex::family
