// hxview frame download: recorded frames A..B written as TIFF files on the server, with progress
// in the event feed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <hx/hx.h>

#include "buffer_pool.h"
#include "event_feed.h"
#include "frame_files.h"

namespace hxview {

// Threads: start and status on request threads; returned on the library's Callback thread; the
// files are written on the download's own thread, which lends each buffer again once its frame is
// on disk, so a slow disk holds the camera back through the download throttle.
class FrameDownload {
public:
    FrameDownload(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed, std::string directory);
    ~FrameDownload();
    FrameDownload(const FrameDownload&) = delete;
    FrameDownload& operator=(const FrameDownload&) = delete;

    // Starts downloading frames from..to; false with a reason (one running, refused range).
    bool start(uint32_t from, uint32_t to, const halvex::common::FrameGeometry& geometry, std::string& error);
    // The progress event of the latest download, as JSON ("{}" before the first).
    std::string status() const;
    void returned(HX_READ_STREAM* record);
    // Ends a running download's wait for the camera (the library is shutting down) and joins it.
    void join();

private:
    static constexpr uint32_t kBuffers = 16;

    bool configure(uint32_t from, uint32_t to, std::string& error);
    void run(uint32_t to, halvex::common::FrameGeometry geometry);
    bool save(const HX_READ_STREAM& record, const halvex::common::FrameGeometry& geometry);
    void report(bool finished, const std::string& error);

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    EventFeed& feed_;
    const std::string directory_;
    BufferPool pool_;
    std::thread worker_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<HX_READ_STREAM*> queue_;
    bool running_ = false;
    bool stopping_ = false;
    uint32_t from_ = 0;
    uint32_t total_ = 0;
    uint32_t written_ = 0;
    std::string status_ = "{}";
};

} // namespace hxview
