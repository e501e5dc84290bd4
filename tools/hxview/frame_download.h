// hxview frame download: recorded frames A..B as TIFF files, handed to a sink (files in the
// server's folder, or a ZIP file on its way to the browser), with progress in the event feed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // What became of a frame: saved, not saved (with a reason), or refused by a sink that takes no
    // more, which ends the saving (the rest of the range is still taken from the camera and
    // dropped, so that the camera finishes its download).
    enum class Saved { Yes, No, Refused };
    // Where the frames go, called on the download's thread: `frame` with each frame's TIFF file,
    // `end` once with the outcome ("" for success). `place` names where the files go, for the
    // progress events.
    struct Sink {
        std::function<Saved(uint32_t frameId, const std::vector<uint8_t>& tiff, std::string& error)> frame;
        std::function<void(const std::string& error)> end;
        std::string place;
    };

    FrameDownload(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed);
    ~FrameDownload();
    FrameDownload(const FrameDownload&) = delete;
    FrameDownload& operator=(const FrameDownload&) = delete;

    // Starts downloading frames from..to; false with a reason (one running, refused range).
    bool start(uint32_t from, uint32_t to, const halvex::common::FrameGeometry& geometry, Sink sink,
               std::string& error);
    // The progress event of the latest download, as JSON ("{}" before the first).
    std::string status() const;
    void returned(HX_READ_STREAM* record);
    // Ends a running download's wait for the camera (the library is shutting down) and joins it.
    void join();

private:
    static constexpr uint32_t kBuffers = 16;

    bool configure(uint32_t from, uint32_t to, std::string& error);
    void run(uint32_t to, halvex::common::FrameGeometry geometry);
    Saved save(const HX_READ_STREAM& record, const halvex::common::FrameGeometry& geometry, std::string& error);
    void report(bool finished, const std::string& error);

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    EventFeed& feed_;
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
    Sink sink_;
};

} // namespace hxview
