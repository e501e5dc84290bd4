// hxview ZIP download: a download's TIFF files as one ZIP file streamed to the browser as the
// frames arrive from the camera.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "zip_writer.h"

namespace halvex::hxview {

// Threads: add and end on the download's thread; next and abandon on the HTTP worker that sends
// the file. Few pieces wait at a time: a browser that reads slowly holds the download's buffers,
// and so the camera, back instead of filling the server's memory.
class ZipDownload {
public:
    enum class Piece { Data, Wait, End, Failed };

    // Files are named PREFIX-NNNNNN.tif by frame number.
    explicit ZipDownload(std::string prefix);

    // Adds a frame's file, waiting while the browser is behind; false with a reason once the
    // browser has gone or the archive is full.
    bool add(uint32_t frameId, const std::vector<uint8_t>& tiff, std::string& error);
    // The download is over: "" for success, else the reason (the browser's file is then cut off,
    // which it reports as a failed download).
    void end(const std::string& error);

    // The next bytes to send: Data with them, Wait when none came before the deadline, End with
    // the archive's directory, Failed with nothing more to send.
    Piece next(std::string& bytes, std::chrono::steady_clock::time_point deadline);
    // The browser went away.
    void abandon();

private:
    static constexpr std::size_t kWaiting = 4;

    const std::string prefix_;
    ZipWriter writer_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> pieces_;
    bool ended_ = false;
    bool failed_ = false;
    bool abandoned_ = false;
};

} // namespace halvex::hxview
