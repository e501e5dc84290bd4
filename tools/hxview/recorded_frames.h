// hxview recorded frames: single frames of the recording a camera holds in review, shown by its
// playback, for the page's scrubber.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "buffer_pool.h"
#include "frame_files.h"

namespace hxview {

// Threads: fetch on request threads, one at a time; returned on the library's Callback thread.
class RecordedFrames {
public:
    RecordedFrames(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
    // Frame `frame` of the recording; false with a reason (no recording, beyond its end, no answer).
    bool fetch(uint32_t frame, const halvex::common::FrameGeometry& geometry, std::vector<uint8_t>& bytes,
               std::string& error);
    void returned(HX_READ_STREAM* record);

private:
    static constexpr std::size_t kBuffers = 2;

    bool show(uint32_t frame, std::string& error);

    const HX_CLIENT_HANDLE client_;
    const HX_CAMERA_HANDLE camera_;
    BufferPool pool_;
    std::mutex fetching_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t lent_ = 0;
    std::optional<uint32_t> wanted_;
    std::vector<uint8_t> shown_;
    bool arrived_ = false;
};

} // namespace hxview
