// hxcam stream client: a library client of its own that lends image buffers to the library and
// collects them as the library gives them back.
#include "stream_client.h"

namespace hxcam {

StreamClient& StreamClient::instance()
{
    static StreamClient* const client = new StreamClient;
    return *client;
}

bool StreamClient::registered()
{
    if (client_ == 0 && HX_register(&client_, &StreamClient::onEvent, this) != HX_STATUS_OK)
        client_ = 0;
    return client_ != 0;
}

std::vector<HX_READ_STREAM*> StreamClient::buffers(std::size_t count, std::size_t size)
{
    std::vector<HX_READ_STREAM*> records;
    for (std::size_t i = 0; i < pool_.size() && records.size() < count; ++i) {
        if (pool_[i]->record.buffer_size == size)
            records.push_back(&pool_[i]->record);
    }
    while (records.size() < count) {
        auto buffer = std::make_unique<Buffer>();
        buffer->bytes = std::make_unique<uint8_t[]>(size);
        HX_read_stream_init(&buffer->record, sizeof(buffer->record));
        buffer->record.buffer = buffer->bytes.get();
        buffer->record.buffer_size = size;
        records.push_back(&buffer->record);
        pool_.push_back(std::move(buffer));
    }
    return records;
}

void StreamClient::onEvent(uint32_t event, HX_CLIENT_HANDLE /*client*/, HX_CAMERA_HANDLE /*camera*/, void* data,
                           void* cookie)
{
    auto* self = static_cast<StreamClient*>(cookie);
    if (self == nullptr)
        return;
    if (event == HX_DOWNLOAD_DATA || event == HX_LIVE_DATA || event == HX_PLAYBACK_DATA)
        self->returned(event, static_cast<HX_READ_STREAM*>(data));
    else if (event == HX_STREAM_NEGOTIATION && data != nullptr)
        self->negotiated(*static_cast<const int32_t*>(data));
}

void StreamClient::returned(uint32_t event, HX_READ_STREAM* record)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back({event, record});
    }
    changed_.notify_all();
}

void StreamClient::negotiated(int32_t packetSize)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        packetSize_ = packetSize;
    }
    changed_.notify_all();
}

bool StreamClient::next(std::chrono::steady_clock::time_point deadline, Returned& returned)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_until(guard, deadline, [this] { return !queue_.empty(); }))
        return false;
    returned = queue_.front();
    queue_.pop_front();
    return true;
}

int32_t StreamClient::packetSize() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return packetSize_;
}

bool StreamClient::waitForNegotiation(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_until(guard, deadline, [this] { return packetSize_ != 0; });
}

} // namespace hxcam
