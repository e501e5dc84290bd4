// A test host for the stream flows: a registered client's callback that queues the buffers the
// library gives back, buffers that outlive the library, and what the tests ask of the cameras.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <hx/hx.h>

#include "arrivals.h"
#include "event_log.h"
#include "library_client.h"

namespace stream_test {

using Clock = std::chrono::steady_clock;

struct Returned {
    uint32_t event = 0;
    HX_READ_STREAM* record = nullptr; // nullptr: a cancelled stream
};

class StreamHost {
public:
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);

    // The next returned buffer of any stream, or nothing once `timeout` has passed.
    std::optional<Returned> next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Negotiated packet sizes reported so far, in order.
    std::vector<int32_t> negotiations() const;
    // Buffers of `size` bytes, never freed: the library may hold them until it shuts down.
    HX_READ_STREAM* buffer(std::size_t size);

private:
    struct Buffer {
        HX_READ_STREAM record{};
        std::unique_ptr<uint8_t[]> bytes;
    };

    // Guards the three below and signals each buffer or negotiation the library reports.
    hx_test::Signal changed_;
    std::deque<Returned> returned_;
    std::vector<int32_t> negotiations_;
    std::deque<Buffer> buffers_;
};

// Status words of returned buffers.
constexpr uint32_t WHOLE_IMAGE = HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE;
constexpr uint32_t RELEASED = HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST;

// The frame number a stand-in camera writes into the first four bytes of every image.
uint32_t frameNumberInPixels(const HX_READ_STREAM& record);
// The same number in a downloaded TIFF: the first four 8-bit samples of its strip; nothing when
// the buffer holds no readable little-endian TIFF.
std::optional<uint32_t> frameNumberInTiff(const HX_READ_STREAM& record);

// The stand-in cameras of these tests: a small monochrome sensor, 1 GiB, camera time 20 times real time.
hxsim::CameraConfig streamCamera(uint32_t hostOrderAddress, const char* model);

// The frames the tests record: 256 x 64 pixels of 8 bits, `frames` of them from the trigger on.
constexpr uint32_t FRAME_WIDTH = 256;
constexpr uint32_t FRAME_HEIGHT = 64;

// Calls through the public interface for one client.
using hx_test::handleOf;
// The camera state; also a barrier: everything posted to the camera's service thread before it
// has been handled when it returns.
uint32_t cameraState(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
void sendCommand(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code);
void configure(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t frames, uint32_t width = FRAME_WIDTH,
               uint32_t height = FRAME_HEIGHT);
// Configures, arms, triggers and waits until the recording is in review.
void record(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t frames, uint32_t width = FRAME_WIDTH,
            uint32_t height = FRAME_HEIGHT);

} // namespace stream_test
