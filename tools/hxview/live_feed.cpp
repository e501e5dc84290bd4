// hxview live feed.
#include "live_feed.h"

#include <algorithm>
#include <cstring>

namespace hxview {
namespace {

constexpr std::size_t kPage = 4096;

} // namespace

LiveFeed::LiveFeed(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera) : client_(client), camera_(camera) {}

bool LiveFeed::start(const halvex::common::FrameGeometry& geometry, double cameraFps, std::string& error)
{
    const std::size_t frameBytes = halvex::common::packedRowBytes(geometry.width, geometry.depth) * geometry.height;
    const std::size_t size = std::max<std::size_t>(HX_STREAM_MIN_BUFFER_SIZE, (frameBytes + 2 * kPage) / kPage * kPage);
    std::vector<HX_READ_STREAM*> records;
    {
        std::lock_guard<std::mutex> guard(lock_);
        running_ = true;
        unfilledRun_ = 0;
        stats_.emplace(false);
        newest_.geometry = geometry;
        newest_.cameraFps = cameraFps;
        lastSecond_.clear();
        bufferSize_ = size;
        // Buffers lent before stay lent while live is off; only the missing ones are added.
        records = pool_.take(kBuffers - std::min(kBuffers, lent_), size);
        lent_ += records.size();
    }
    for (HX_READ_STREAM* record : records) {
        if (HX_live(client_, camera_, record) != HX_STATUS_OK) {
            error = "the library refused a live buffer";
            return false;
        }
    }
    if (HX_live_enable(client_, camera_, 1) != HX_STATUS_OK) {
        error = "the live stream could not be switched on";
        return false;
    }
    return true;
}

void LiveFeed::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!running_)
            return;
        running_ = false;
    }
    HX_live_enable(client_, camera_, 0);
}

bool LiveFeed::running() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return running_;
}

bool LiveFeed::newest(uint64_t after, std::chrono::steady_clock::time_point deadline, Frame& frame)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_until(guard, deadline, [&] { return newest_.sequence > after && !newest_.bytes.empty(); }))
        return false;
    frame = newest_;
    if (sent_.empty() || sent_.back().sequence != frame.sequence)
        sent_.push_back(frame);
    if (sent_.size() > kSent)
        sent_.pop_front();
    return true;
}

bool LiveFeed::recent(uint64_t sequence, Frame& frame) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const Frame& kept : sent_) {
        if (kept.sequence == sequence) {
            frame = kept;
            return true;
        }
    }
    return false;
}

// The library gives buffers back unfilled when it stops live around a settings change; they are
// lent again while live is on, unless the camera keeps refusing them (it is gone).
void LiveFeed::returned(HX_READ_STREAM* record)
{
    if (record == nullptr)
        return;
    HX_READ_STREAM* next = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const bool unfilled = BufferPool::unfilled(*record);
        unfilledRun_ = unfilled ? unfilledRun_ + 1 : 0;
        if (!unfilled && stats_) {
            stats_->setPacketSize(packetSize_);
            stats_->add(*record);
            if (halvex::common::StreamStats::complete(*record))
                keep(*record);
        }
        pool_.give(record);
        if (running_ && unfilledRun_ <= kMaxUnfilled)
            next = pool_.take(1, bufferSize_).front();
        else
            --lent_;
    }
    changed_.notify_all();
    if (next != nullptr)
        HX_live(client_, camera_, next);
}

void LiveFeed::keep(const HX_READ_STREAM& record)
{
    const auto* bytes = static_cast<const uint8_t*>(record.buffer);
    newest_.bytes.assign(bytes, bytes + record.received_length);
    newest_.frameId = record.frame_id;
    ++newest_.sequence;
    const double seconds = stats_->seconds();
    newest_.megabytesPerSecond = seconds > 0 ? static_cast<double>(stats_->bytes()) / 1e6 / seconds : 0;
    newest_.lostPackets = stats_->lostPackets();
    newest_.incompleteFrames = stats_->incompleteFrames();
    const auto now = std::chrono::steady_clock::now();
    lastSecond_.push_back(now);
    while (now - lastSecond_.front() > std::chrono::seconds(1))
        lastSecond_.pop_front();
    newest_.receivedFps = static_cast<double>(lastSecond_.size());
}

void LiveFeed::negotiated(int32_t packetSize)
{
    std::lock_guard<std::mutex> guard(lock_);
    packetSize_ = packetSize;
}

} // namespace hxview
