// Family stream flows: the live, playback and download sessions of a register-based family's
// camera (over UDP, or TCP where the family's traits say so), driven from its service thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "control/register_channel.h"
#include "packing/hx_internal.h"
#include "registers/register_map.h"

class DownloadWatchdog;
class HxStreamBuffer;
class HxStreamOperations;
namespace HLV_THREAD {
class Message;
}

// Decides, per stream kind, which camera registers are written and when the camera's receiver is
// created, switched or stopped; the receiver side is the camera's HxStreamOperations. Every stream
// buffer message of the camera passes through handleStreaming twice at most: in-bound from the
// API, and (downloads only) out-bound once the receiver has filled or released the buffer, where
// format-11 frames are packed and the end of the download is recognised.
//
// A download pauses discovery polling and the heartbeat poller (the camera's heartbeat time-out is
// raised instead) and restores both however it ends: at its end frame, on a stop request, when it
// cannot start, when the watchdog finds the camera silent, and when this object goes.
//
// Threads: the flows run on the camera's service thread; a setter on an API thread may stop and
// restart live around its write (LiveStreamPause). One lock serialises the two, and is held only
// by these operations, never around a call into the family's setters. Construction and
// destruction on the owner's thread, once nothing else uses the object.
class FamilyStreaming {
    HLV_LOG_CLASS(FamilyStreaming);

public:
    // What the flows need from the family object they serve. Empty hooks do nothing (the UDP
    // receiver is assumed when streamsOverUdp is empty).
    struct Hooks {
        std::function<void()> startHeartBeat;
        std::function<void()> stopHeartBeat;
        // True for cameras whose images arrive over UDP, false for TCP.
        std::function<bool()> streamsOverUdp;
        // Size and bit mode of the frames the camera records, for packing format-11 downloads.
        std::function<HX_INTERNAL::PackingImage()> packingImage;
    };

    // The download format register value that asks for packed output.
    static constexpr uint32_t PACKED_DOWNLOAD_FORMAT = 11;
    // The longest the first stream waits for the receiver's packet-size negotiation: two trials of
    // one second each (scaled by the test hook), plus this margin.
    static constexpr uint32_t NEGOTIATION_MARGIN_MILLISECONDS = 500;

    // The channel and the stream operations belong to the family object and outlive this one.
    FamilyStreaming(uint32_t cameraAddress, RegisterChannel& channel, HxStreamOperations& streamOperations,
                    Hooks hooks);
    ~FamilyStreaming();
    FamilyStreaming(const FamilyStreaming&) = delete;
    FamilyStreaming& operator=(const FamilyStreaming&) = delete;

    // Stops a running live stream for its lifetime and starts it again however the scope is left,
    // for a setter whose write changes what the camera streams.
    class LiveStreamPause {
    public:
        explicit LiveStreamPause(FamilyStreaming& streaming);
        ~LiveStreamPause();
        LiveStreamPause(const LiveStreamPause&) = delete;
        LiveStreamPause& operator=(const LiveStreamPause&) = delete;
        bool stopped() const { return stopped_; }

    private:
        FamilyStreaming& streaming_;
        bool stopped_ = false;
    };

    // Takes a stream buffer message over: it is forwarded, handed to the receiver or ended here.
    // Throws (and leaves the message to the caller) only for a message that is not a stream
    // buffer message or when the receiver cannot be created.
    void handleStreaming(HLV_THREAD::Message* message);
    // The camera is away: a live or playback buffer waits in the running receiver, and a live
    // switch is noted for the camera's return, without an exchange with the camera. False (the
    // message stays the caller's) for anything else, or without a running receiver.
    bool holdWhileAway(HLV_THREAD::Message* message);

    // Creates the receiver unless it exists and starts the heartbeat poller for a new one.
    void connectStream();
    void disconnectStream();
    // The camera is being closed: stops a download or live stream it runs. 0 when the camera's
    // control channel is gone, 1 otherwise.
    uint32_t streamShutdown();

    // Switches the camera's live stream on (also reached through the live command). False when the
    // camera did not take the stream's registers.
    bool startLiveStream();
    void stopLiveStream();
    // Switches the camera's live stream on again when the host wants it (the camera stops it
    // when it restarts or its heartbeat runs out while it cannot be reached); otherwise the next
    // live start tells the camera again where the stream goes.
    void resumeLiveStream();
    // Starts the download the applied download settings describe; false (and a log line) when
    // the camera holds no recording to download or the camera refused the start.
    bool kickOffDownload();
    // Ends the download on the camera and restores heartbeat and discovery; the write's result.
    uint32_t stopDownload();

    // Live runs and the receiver does not hold the camera back.
    bool liveRunning() const;

private:
    // What the camera's registers say about a download about to start.
    struct DownloadPlan {
        uint32_t cameraState = 0;
        uint32_t partitionState = 0;
        uint32_t recordedFrames = 0;
        uint32_t startFrame = 0;
        uint32_t endFrame = 0;
        uint32_t format = 0;
    };

    void inBound(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void outBound(HLV_THREAD::Message* message);
    void passOnFilledDownload(HxStreamBuffer& stream);
    void releaseDownloadBuffers();
    bool staleWatchdogStop(const HLV_THREAD::Message* message) const;
    void handleDownloadStreamMsg(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void handleLiveStreamMsg(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void handlePlaybackStreamMsg(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void startDownloadSession(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void refuseDownloadStart(HLV_THREAD::Message* message, HxStreamBuffer& stream);
    void switchLive(bool on);
    // The camera's side of live; the public operations also record whether the host wants it.
    // With restoreDestination (or a destination the camera may have forgotten since) the UDP
    // stream's destination is written first.
    bool startCameraLive(bool restoreDestination = false);
    void stopCameraLive();
    bool readDownloadPlan(DownloadPlan& plan);
    bool downloadPossible(const DownloadPlan& plan) const;
    bool startCameraDownload(const DownloadPlan& plan);
    void leaveDownloadMode();
    void pauseDiscovery();
    void resumeDiscovery();
    // True once the packet size is known (false after the time limit or without a receiver).
    bool waitForNegotiation();
    HX_INTERNAL::PackingImage recordedImage() const;
    bool channelUsable() const;
    // Hands a buffer or stop request to the receiver, or ends a message that carries neither.
    void passToReceiver(HLV_THREAD::Message* message, const HxStreamBuffer& stream);
    static void endHere(HLV_THREAD::Message* message);
    DownloadWatchdog& watchdog();
    void watchdogProgress();

    const uint32_t address_;
    const std::string name_;
    RegisterChannel& channel_;
    HxStreamOperations& streamOps_;
    const Hooks hooks_;
    // Recursive because the stream messages handled under it run the public flow operations
    // (start and stop of live and download), which take it themselves when called on their own.
    mutable std::recursive_mutex flowLock_;
    std::atomic<uint32_t> writtenStreamControl_{HX_REGISTERS::STREAM_CONTROL_STOP};
    bool downloadRunning_ = false;
    // The download started last, so a watchdog's stop is matched with the download it watched.
    uint64_t downloadSession_ = 0;
    bool liveWanted_ = false;
    // The camera may have restarted since it was last told where its UDP stream goes.
    bool destinationForgotten_ = false;
    bool discoveryPausedByDownload_ = false;
    uint32_t downloadEndFrame_ = 0;
    uint32_t downloadFormat_ = 0;
    HX_INTERNAL::PackingImage packingImage_;
    std::unique_ptr<DownloadWatchdog> watchdog_;
};
