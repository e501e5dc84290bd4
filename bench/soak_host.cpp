// The soak's library client.
#include "soak_host.h"

namespace halvex::bench {

bool SoakHost::start()
{
    return HX_register(&client_, onEvent, this) == HX_STATUS_OK;
}

void SoakHost::stop()
{
    HX_unregister(client_);
    HX_shutdown();
}

HX_STATUS SoakHost::lend(HX_STATUS status)
{
    if (status == HX_STATUS_OK) {
        std::lock_guard<std::mutex> guard(lock_);
        ++lent_;
    }
    return status;
}

HX_STATUS SoakHost::lendLive(HX_CAMERA_HANDLE camera, HX_READ_STREAM& record)
{
    clearResults(record);
    return lend(HX_live(client_, camera, &record));
}

HX_STATUS SoakHost::lendDownload(HX_CAMERA_HANDLE camera, HX_READ_STREAM& record)
{
    clearResults(record);
    return lend(HX_download(client_, camera, &record));
}

long SoakHost::lentBuffers() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lent_;
}

void SoakHost::onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    auto& host = *static_cast<SoakHost*>(cookie);
    {
        std::lock_guard<std::mutex> guard(host.lock_);
        ++host.events_[{camera, event}];
        const bool stream = event == HX_LIVE_DATA || event == HX_DOWNLOAD_DATA || event == HX_PLAYBACK_DATA;
        if (stream && data != nullptr) {
            --host.lent_;
            host.returned_[camera].push_back(static_cast<HX_READ_STREAM*>(data));
        }
    }
    host.changed_.notify_all();
}

unsigned SoakHost::events(HX_CAMERA_HANDLE camera, uint32_t kind) const
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = events_.find({camera, kind});
    return found == events_.end() ? 0 : found->second;
}

bool SoakHost::waitForEvent(HX_CAMERA_HANDLE camera, uint32_t kind, unsigned seen, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_until(guard, deadline, [&] { return events_[{camera, kind}] > seen; });
}

HX_READ_STREAM* SoakHost::nextReturned(HX_CAMERA_HANDLE camera, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    auto& queue = returned_[camera];
    if (!changed_.wait_until(guard, deadline, [&] { return !queue.empty(); }))
        return nullptr;
    HX_READ_STREAM* record = queue.front();
    queue.pop_front();
    return record;
}

bool wholeImage(const HX_READ_STREAM& record)
{
    return (record.status & HX_STREAM_STATUS_COMPLETE) != 0 && (record.status & HX_STREAM_STATUS_ERROR) == 0 &&
           record.image_length != 0 && record.received_length == record.image_length;
}

void clearResults(HX_READ_STREAM& record)
{
    record.status = 0;
    record.received_length = 0;
    record.image_length = 0;
    record.frame_id = 0;
}

} // namespace halvex::bench
