// hxview buffer pool.
#include "buffer_pool.h"

namespace hxview {

BufferPool::Buffer::Buffer(std::size_t size) : bytes(std::make_unique<uint8_t[]>(size))
{
    HX_read_stream_init(&record, sizeof(record));
    record.buffer = bytes.get();
    record.buffer_size = size;
}

std::vector<HX_READ_STREAM*> BufferPool::take(std::size_t count, std::size_t size)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<HX_READ_STREAM*> records;
    for (auto& buffer : buffers_) {
        if (records.size() < count && !buffer->lent && buffer->record.buffer_size >= size) {
            buffer->lent = true;
            clear(buffer->record);
            records.push_back(&buffer->record);
        }
    }
    while (records.size() < count) {
        buffers_.push_back(std::make_unique<Buffer>(size));
        records.push_back(&buffers_.back()->record);
    }
    return records;
}

void BufferPool::give(HX_READ_STREAM* record)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& buffer : buffers_) {
        if (&buffer->record == record)
            buffer->lent = false;
    }
}

void BufferPool::clear(HX_READ_STREAM& record)
{
    record.status = 0;
    record.received_length = 0;
    record.image_length = 0;
    record.frame_id = 0;
}

bool BufferPool::unfilled(const HX_READ_STREAM& record)
{
    const uint32_t marks = HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST;
    return (record.status & marks) == marks && record.received_length == 0 && record.image_length == 0;
}

} // namespace hxview
