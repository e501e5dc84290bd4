// hxcam stream client: a library client of its own that lends image buffers to the library and
// collects them as the library gives them back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <hx/hx.h>

namespace hxcam {

// The library may hold a lent buffer until HX_shutdown, which runs after the command has ended,
// so the one instance and its buffers live until the process exits. The library's Callback
// thread queues returned buffers; the command's thread takes them.
class StreamClient {
public:
    struct Returned {
        uint32_t event = 0;
        // The host record given back; nullptr for a cancelled stream.
        HX_READ_STREAM* record = nullptr;
    };

    static StreamClient& instance();

    // Registers on first use; false when the library refuses a client.
    bool registered();
    HX_CLIENT_HANDLE client() const { return client_; }
    // count buffers of size bytes each, with their records initialised; the same ones again on
    // later calls with the same sizes.
    std::vector<HX_READ_STREAM*> buffers(std::size_t count, std::size_t size);
    // The next returned buffer, or false once the deadline has passed.
    bool next(std::chrono::steady_clock::time_point deadline, Returned& returned);
    // The packet size of the last stream negotiation: 0 before one, negative when it failed.
    int32_t packetSize() const;
    // Waits until a negotiation was reported or the deadline has passed.
    bool waitForNegotiation(std::chrono::steady_clock::time_point deadline);

private:
    struct Buffer {
        HX_READ_STREAM record{};
        std::unique_ptr<uint8_t[]> bytes;
    };

    StreamClient() = default;
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);
    void returned(uint32_t event, HX_READ_STREAM* record);
    void negotiated(int32_t packetSize);

    HX_CLIENT_HANDLE client_ = 0;
    std::vector<std::unique_ptr<Buffer>> pool_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Returned> queue_;
    int32_t packetSize_ = 0;
};

} // namespace hxcam
