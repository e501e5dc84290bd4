// Download watchdog: ends a running download whose camera has stopped sending, so the host gets
// its buffers back instead of waiting for frames that will never come.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "callback/hx_stream.h"
#include "hlv_thread/message.h"
#include "hlv_thread/timer.h"

namespace halvex::family {

// The watchdog's stop request: it names the download the watchdog was armed for, so a stop that
// arrives after that download ended never reaches a newer stream.
class WatchdogStop : public callback::HxStream<thread::Message> {
public:
    WatchdogStop(const std::shared_ptr<camera::CameraServices>& service, uint32_t cameraAddress, uint64_t forSession);
    const uint64_t session;
};

// While armed it checks a few times per stall period whether anything moved: a buffer the host
// handed in, one that came back filled, or image data the receiver took in. Data counts because a
// large frame sent with a long packet delay (or by a camera slowed down) may take longer than a
// stall period to fill its buffer, and a download still receiving is not stuck. A whole stall
// period without movement makes it post one stop request for the download it was armed for to
// the camera's service thread, which ends that download like a host's stop. Time while the
// throttle holds the camera paused for the host does not count: the host is holding its buffers
// (a slow host writing frames out, say), nothing is stuck, and the download goes on when it lends
// them. It looks the service up each time and never creates one. The receiver, which times the
// download's datagrams, may judge sooner that the download fell silent before its last frame (its
// end was lost): the watchdog then stops the download at its next check, which comes every
// SILENCE_CHECK_MICROSECONDS while armed.
//
// Threads: arm/disarm/progress from the camera's service thread; tick() on that thread too,
// between its messages; it only reads the data count and posts.
class DownloadWatchdog : public thread::Timer {
public:
    // Camera seconds without a frame before a download counts as stalled (scaled by the test hook).
    static constexpr uint32_t STALL_MILLISECONDS = 10000;
    static constexpr uint32_t CHECKS_PER_STALL = 4;
    static constexpr uint32_t SILENCE_CHECK_MICROSECONDS = 20000;

    // True while the camera is paused for want of the host's buffers.
    using PausedForHost = std::function<bool()>;
    // `dataIn` counts image data as it arrives (may be empty: then only buffers count);
    // `pausedForHost` may be empty (never paused); `silentEnds` counts the receiver's verdicts that
    // a download fell silent before its last frame (may be empty).
    DownloadWatchdog(uint32_t cameraAddress, std::shared_ptr<const std::atomic<uint64_t>> dataIn,
                     PausedForHost pausedForHost = {},
                     std::shared_ptr<const std::atomic<uint64_t>> silentEnds = nullptr);
    ~DownloadWatchdog() override;

    // Download `session` started: the stall clock starts now. The owner starts the timer.
    void arm(uint64_t session);
    // Stops the timer too.
    void disarm();
    // Something moved: a buffer went in or came back.
    void progress();
    void tick() override;

    bool armed() const { return armed_; }

private:
    bool stalled() const;
    bool dataArrived();
    bool fellSilent() const;
    void postStop(bool silent);

    const uint32_t cameraAddress_;
    const std::shared_ptr<const std::atomic<uint64_t>> dataIn_;
    const PausedForHost pausedForHost_;
    const std::shared_ptr<const std::atomic<uint64_t>> silentEnds_;
    // The verdict count when the download was armed; the service thread only.
    uint64_t silentSeen_ = 0;
    // The data count the last tick saw; the watchdog's thread only.
    uint64_t dataSeen_ = 0;
    const std::chrono::steady_clock::duration stallLimit_;
    std::atomic<bool> armed_{false};
    std::atomic<bool> fired_{false};
    std::atomic<int64_t> lastProgress_{0};
    std::atomic<uint64_t> session_{0};
};

} // namespace halvex::family
