// hxview frame download.
#include "frame_download.h"

#include <algorithm>
#include <chrono>

#include "download_request.h"
#include "json_text.h"
#include "session.h"
#include "stream_stats.h"

namespace hxview {
namespace {

// A camera that sends nothing for 10 seconds ends a download itself; this only bounds a wait
// that nothing would end otherwise.
constexpr auto kQuietTime = std::chrono::seconds(30);
// Room beside the pixels for the header of a TIFF file the camera writes.
constexpr std::size_t kFileHeaderRoom = 64 * 1024;

} // namespace

FrameDownload::FrameDownload(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed)
    : client_(client), camera_(camera), feed_(feed)
{
}

FrameDownload::~FrameDownload()
{
    join();
}

void FrameDownload::join()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

bool FrameDownload::start(uint32_t from, uint32_t to, const halvex::common::FrameGeometry& geometry, Sink sink,
                          std::string& error)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (running_) {
            error = "a download is running";
            return false;
        }
    }
    if (worker_.joinable())
        worker_.join();
    const std::size_t pixelBytes = std::size_t{geometry.width} * geometry.height * (geometry.depth == 8 ? 1 : 2);
    std::vector<HX_READ_STREAM*> records = pool_.take(kBuffers, pixelBytes + kFileHeaderRoom);
    {
        std::lock_guard<std::mutex> guard(lock_);
        running_ = true;
        queue_.clear();
        from_ = from;
        total_ = to - from + 1;
        written_ = 0;
        sink_ = std::move(sink);
    }
    // Lent before the settings are applied, they only queue; the buffer-less call starts.
    for (HX_READ_STREAM* record : records)
        HX_download(client_, camera_, record);
    if (!configure(from, to, error) || HX_download(client_, camera_, nullptr) != HX_STATUS_OK) {
        if (error.empty())
            error = "the download could not be started";
        std::lock_guard<std::mutex> guard(lock_);
        running_ = false;
        return false;
    }
    report(false, "");
    worker_ = std::thread(&FrameDownload::run, this, to, geometry);
    return true;
}

bool FrameDownload::configure(uint32_t from, uint32_t to, std::string& error)
{
    HX_DOWNLOAD_SETTINGS current;
    HX_download_settings_init(&current, sizeof(current));
    if (HX_setup_download_syn(client_, camera_, &current, &current) != HX_STATUS_OK) {
        error = "the download settings could not be read";
        return false;
    }
    HX_DOWNLOAD_SETTINGS request = halvex::common::downloadRequest(current, from, to, HX_FORMAT_TIFF, kBuffers);
    if (HX_setup_download_syn(client_, camera_, &request, &request) != HX_STATUS_OK) {
        error = "the download settings could not be set";
        return false;
    }
    if (((request.start_flags | request.stop_flags | request.format_flags) & HX_FLAG_ERR) != 0) {
        error = "the camera refused frames " + std::to_string(from) + " to " + std::to_string(to) +
                " (the recording's last frame is " + std::to_string(request.stop_max) + ")";
        return false;
    }
    return true;
}

void FrameDownload::returned(HX_READ_STREAM* record)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(record);
    }
    changed_.notify_all();
}

void FrameDownload::run(uint32_t to, halvex::common::FrameGeometry geometry)
{
    std::size_t released = 0;
    bool last = false;
    bool saving = true;
    std::string error;
    while (!last && released < kBuffers) {
        HX_READ_STREAM* record = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (!changed_.wait_for(guard, kQuietTime, [this] { return !queue_.empty() || stopping_; }) ||
                queue_.empty()) {
                error = stopping_ ? "the viewer is stopping" : "the camera stopped sending";
                break;
            }
            record = queue_.front();
            queue_.pop_front();
        }
        if (record == nullptr || BufferPool::unfilled(*record)) {
            ++released;
            if (record != nullptr)
                pool_.give(record);
            continue;
        }
        last = (record->status & HX_STREAM_STATUS_LAST) != 0 || record->frame_id >= to;
        std::string problem;
        const Saved saved = saving ? save(*record, geometry, problem) : Saved::Refused;
        {
            std::lock_guard<std::mutex> guard(lock_);
            written_ += saved == Saved::Yes ? 1 : 0;
        }
        if (saving && saved != Saved::Yes && error.empty())
            error = problem;
        // A sink that takes no more (the browser went away) ends the saving, not the download.
        saving = saving && saved != Saved::Refused;
        report(false, "");
        BufferPool::clear(*record);
        if (last)
            pool_.give(record);
        else
            HX_download(client_, camera_, record);
    }
    if (!last && error.empty())
        error = "the download ended before its last frame (see the log)";
    sink_.end(error);
    report(true, error);
}

FrameDownload::Saved FrameDownload::save(const HX_READ_STREAM& record, const halvex::common::FrameGeometry& geometry,
                                         std::string& error)
{
    const std::string frame = "frame " + std::to_string(record.frame_id);
    if (!halvex::common::StreamStats::complete(record)) {
        error = frame + " arrived incomplete";
        return Saved::No;
    }
    const auto* data = static_cast<const uint8_t*>(record.buffer);
    // A camera that writes TIFF files itself sends them as they go to the user.
    std::vector<uint8_t> tiff;
    if (halvex::common::sniffContent(data, record.received_length) == halvex::common::Content::Tiff)
        tiff.assign(data, data + record.received_length);
    else if (!halvex::common::pixelsAsTiff(data, record.received_length, geometry, tiff, error)) {
        error = frame + ": " + error;
        return Saved::No;
    }
    return sink_.frame(record.frame_id, tiff, error);
}

void FrameDownload::report(bool finished, const std::string& error)
{
    Json::Value json;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (finished)
            running_ = false;
        json["type"] = "download";
        json["camera"] = halvex::common::cameraAddress(camera_);
        json["from"] = from_;
        json["total"] = total_;
        json["written"] = written_;
        json["finished"] = finished;
        json["place"] = sink_.place;
        if (!error.empty())
            json["error"] = error;
        status_ = writeJson(json);
    }
    feed_.post(writeJson(json));
}

std::string FrameDownload::status() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return status_;
}

} // namespace hxview
