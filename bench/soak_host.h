// The soak's one library client: its callback counts each camera's events and queues the stream
// buffers the library gives back; it keeps count of the buffers the library holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include <hx/hx.h>

namespace halvex::bench {

using Clock = std::chrono::steady_clock;

// Threads: the soak's main thread calls everything; onEvent runs on the library's Callback thread.
class SoakHost {
public:
    bool start();
    void stop();
    HX_CLIENT_HANDLE client() const { return client_; }

    // Lends `record` for live images or a download; counted while the library holds it.
    HX_STATUS lendLive(HX_CAMERA_HANDLE camera, HX_READ_STREAM& record);
    HX_STATUS lendDownload(HX_CAMERA_HANDLE camera, HX_READ_STREAM& record);
    long lentBuffers() const;

    // Events of `kind` seen for `camera` so far.
    unsigned events(HX_CAMERA_HANDLE camera, uint32_t kind) const;
    // Waits until more than `seen` events of `kind` arrived for `camera`; false at the deadline.
    bool waitForEvent(HX_CAMERA_HANDLE camera, uint32_t kind, unsigned seen, Clock::time_point deadline);
    // The next buffer given back for `camera`, or nullptr at the deadline.
    HX_READ_STREAM* nextReturned(HX_CAMERA_HANDLE camera, Clock::time_point deadline);

private:
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);
    HX_STATUS lend(HX_STATUS status);

    HX_CLIENT_HANDLE client_ = 0;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::pair<HX_CAMERA_HANDLE, uint32_t>, unsigned> events_;
    std::map<HX_CAMERA_HANDLE, std::deque<HX_READ_STREAM*>> returned_;
    long lent_ = 0;
};

// Whether the library gave `record` back as one whole image.
bool wholeImage(const HX_READ_STREAM& record);
// Clears a record's results before it is lent again.
void clearResults(HX_READ_STREAM& record);

} // namespace halvex::bench
