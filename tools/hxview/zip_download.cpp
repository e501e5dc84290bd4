// hxview ZIP download.
#include "zip_download.h"

#include <cstdio>

namespace halvex::hxview {

ZipDownload::ZipDownload(std::string prefix) : prefix_(std::move(prefix)), writer_(std::chrono::system_clock::now()) {}

bool ZipDownload::add(uint32_t frameId, const std::vector<uint8_t>& tiff, std::string& error)
{
    char name[48];
    std::snprintf(name, sizeof(name), "-%06u.tif", frameId);
    std::string piece;
    std::unique_lock<std::mutex> guard(lock_);
    // The download's thread ends by itself when the camera stops sending; the browser's going
    // away ends this wait.
    changed_.wait(guard, [this] { return pieces_.size() < kWaiting || abandoned_; });
    if (abandoned_) {
        error = "the browser stopped taking the ZIP file";
        return false;
    }
    if (!writer_.add(prefix_ + name, tiff, piece, error))
        return false;
    pieces_.push_back(std::move(piece));
    changed_.notify_all();
    return true;
}

void ZipDownload::end(const std::string& error)
{
    std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
    failed_ = !error.empty();
    if (!failed_)
        pieces_.push_back(writer_.finish());
    changed_.notify_all();
}

ZipDownload::Piece ZipDownload::next(std::string& bytes, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_until(guard, deadline, [this] { return !pieces_.empty() || ended_; }))
        return Piece::Wait;
    if (pieces_.empty())
        return failed_ ? Piece::Failed : Piece::End;
    bytes.swap(pieces_.front());
    pieces_.pop_front();
    changed_.notify_all();
    if (failed_)
        return Piece::Failed;
    return ended_ && pieces_.empty() ? Piece::End : Piece::Data;
}

void ZipDownload::abandon()
{
    std::lock_guard<std::mutex> guard(lock_);
    abandoned_ = true;
    changed_.notify_all();
}

} // namespace halvex::hxview
