// Download watchdog: ends a running download whose camera has stopped sending, so the host gets
// its buffers back instead of waiting for frames that will never come.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "hlv_thread/ticker.h"

// While armed it checks a few times per stall period whether anything moved: a buffer the host
// handed in or one that came back filled. A whole stall period without movement, while the camera
// is not held back by the download throttle (the host running out of buffers is not a stall),
// makes it post one stop request for the camera's download to the camera's service thread, which
// ends the download like a host's stop. It looks the service up each time and never creates one.
//
// Threads: arm/disarm/progress from the camera's service thread; tick() on the watchdog's own
// thread, which only posts.
class DownloadWatchdog : public HLV_THREAD::Ticker {
public:
    // Camera seconds without a frame before a download counts as stalled (scaled by the test hook).
    static constexpr uint32_t STALL_MILLISECONDS = 10000;
    static constexpr uint32_t CHECKS_PER_STALL = 4;

    // streamPaused answers whether the throttle currently holds the camera back.
    DownloadWatchdog(uint32_t cameraAddress, std::function<bool()> streamPaused);
    ~DownloadWatchdog() override;

    // A download started: the stall clock starts now.
    void arm();
    void disarm();
    // Something moved: a buffer went in or came back.
    void progress();
    void tick() override;

    bool armed() const { return armed_; }

private:
    bool stalled() const;
    void postStop();

    const uint32_t cameraAddress_;
    const std::function<bool()> streamPaused_;
    const std::chrono::steady_clock::duration stallLimit_;
    std::atomic<bool> armed_{false};
    std::atomic<bool> fired_{false};
    std::atomic<int64_t> lastProgress_{0};
};
