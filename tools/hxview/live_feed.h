// hxview live feed: a camera's live images, of which the page takes the newest whenever it is ready.
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

#include "buffer_pool.h"
#include "frame_files.h"
#include "stream_stats.h"

namespace hxview {

// Threads: start, stop, newest and recent on request threads; returned and negotiated on the library's
// Callback thread, which copies each whole image and lends its buffer again at once, so the camera
// never waits for the page: a slow browser sees fewer frames, not older ones.
class LiveFeed {
public:
    struct Frame {
        uint64_t sequence = 0; // counts the images kept since the viewer started
        uint32_t frameId = 0;
        halvex::common::FrameGeometry geometry;
        std::vector<uint8_t> bytes;
        double megabytesPerSecond = 0;
        double receivedFps = 0; // images kept in the last second
        double cameraFps = 0;   // the rate the camera was set to when live started
        uint64_t lostPackets = 0;
        uint64_t incompleteFrames = 0;
    };

    LiveFeed(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
    // Switches live on, or takes a new image size and rate while it is on.
    bool start(const halvex::common::FrameGeometry& geometry, double cameraFps, std::string& error);
    void stop();
    bool running() const;
    // The newest image after `after`, waiting for one until the deadline.
    bool newest(uint64_t after, std::chrono::steady_clock::time_point deadline, Frame& frame);
    // One of the last images `newest` handed out, by its sequence number: what a page shows,
    // however far the camera has gone on since. False when it has gone.
    bool recent(uint64_t sequence, Frame& frame) const;

    void returned(HX_READ_STREAM* record);
    void negotiated(int32_t packetSize);

private:
    static constexpr std::size_t kBuffers = 4;
    // Unfilled buffers in a row after which live is taken to have ended.
    static constexpr std::size_t kMaxUnfilled = 2 * kBuffers;
    // Images handed out kept for snapshots: enough for a few pages or tiles showing this camera.
    static constexpr std::size_t kSent = 4;

    void keep(const HX_READ_STREAM& record);

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    BufferPool pool_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool running_ = false;
    std::size_t bufferSize_ = 0;
    std::size_t lent_ = 0;
    std::size_t unfilledRun_ = 0;
    std::optional<halvex::common::StreamStats> stats_;
    int32_t packetSize_ = 0;
    Frame newest_;
    std::deque<Frame> sent_;
    std::deque<std::chrono::steady_clock::time_point> lastSecond_;
};

} // namespace hxview
