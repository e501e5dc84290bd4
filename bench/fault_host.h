// The host side of the fault matrix: the library's C interface driven with every call bounded in
// time, the images it gives back checked against the frames the stand-in camera drew, and the
// tally of one run of the matrix.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "sim/frames/frame_store.h"

namespace fault_bench {

using Clock = std::chrono::steady_clock;

// What one row of the matrix saw.
struct Tally {
    unsigned succeeded = 0;
    unsigned failed = 0;       // returned HX_STATUS_ERROR (the library logs why)
    unsigned falseSuccess = 0; // returned success, but the camera's registers or state disagree
    unsigned hung = 0;         // still running at the call's bound
    unsigned complete = 0;     // images reported whole whose bytes are the frame's
    unsigned incomplete = 0;   // images the library flagged as incomplete or faulty
    unsigned flipped = 0;      // reported whole, bits flipped inside the pixels (no checksum can tell)
    unsigned wrong = 0;        // reported whole, but the wrong frame, size or placement
    unsigned missing = 0;      // download frames that never came back
    double slowest = 0;        // seconds, the slowest call
    std::string slowestCall;
    std::string recovery = "-"; // "-" where the row has no silence, else "ok" or what did not flow again
    bool recoveryFailed = false;
    // Settings round trips and their time; the download's time and the frames whole once the
    // frames that came back incomplete or not at all were fetched again (loss rows only).
    unsigned settingsCalls = 0;
    unsigned settingsFailed = 0;
    double settingsSeconds = 0;
    double settingsSlowest = 0;
    double downloadSeconds = 0;
    unsigned downloadWhole = 0;
    unsigned downloadPasses = 0;

    void add(const Tally& other);
};

// How a received image compares with the frame it should be.
enum class ImageCheck { Whole, Flipped, Wrong };

// The least payload a stream packet carries (a 1500-byte packet less its headers).
inline constexpr std::size_t kSmallestPayload = 1464;
// Compares `image` with `expected`: Whole when equal, Flipped when they differ only within windows
// of three neighbouring bytes, no more windows than the image has packets (the bit flips corrupted
// packets carry in their payload), Wrong otherwise.
ImageCheck compareImage(std::span<const uint8_t> image, std::span<const uint8_t> expected);

// The process's one library client; its callback routes stream buffers and counts events.
class Host {
public:
    static Host& instance();

    bool start();
    HX_CLIENT_HANDLE client() const { return client_; }

    // Runs `call` on a thread of its own and waits at most `bound` for it. Counts the outcome
    // and its time into `tally`; a call still running at the bound counts as hung and is left to
    // finish on its own (its arguments must be owned by the closure).
    HX_STATUS bounded(Tally& tally, const char* what, std::chrono::milliseconds bound, std::function<HX_STATUS()> call);

    // Events of kind `event` (HX_CAPTURE_CHANGE, HX_STATE, HX_END, ...) seen for `camera`.
    unsigned events(HX_CAMERA_HANDLE camera, uint32_t event) const;
    // Waits until more than `seen` events of that kind were seen, or the deadline passes.
    bool waitForEvent(HX_CAMERA_HANDLE camera, uint32_t event, unsigned seen, Clock::time_point deadline);

    // Stream buffers given back for `camera` since it was last drained, in order.
    struct Returned {
        uint32_t event = 0;
        HX_READ_STREAM* record = nullptr;
        Clock::time_point at;
    };
    // Waits until a buffer comes back or the deadline passes.
    bool next(HX_CAMERA_HANDLE camera, Clock::time_point deadline, Returned& returned);
    // Forgets what is queued for the camera.
    void drain(HX_CAMERA_HANDLE camera);

    // `count` fresh buffers of `size` bytes. Buffers stay allocated until the process ends: the
    // library may hold a lent buffer until it shuts down.
    std::vector<HX_READ_STREAM*> buffers(std::size_t count, std::size_t size);

private:
    Host() = default;
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);

    struct State;
    std::shared_ptr<State> state_;
    HX_CLIENT_HANDLE client_ = 0;
};

// A buffer given back unfilled (a cancelled stream, a lent buffer beyond the download's end).
bool released(const HX_READ_STREAM& record);
// Whether the library reports a record as one whole, unmarked image.
bool reportedWhole(const HX_READ_STREAM& record);
// Clears a record's results before it is lent again.
void clearResults(HX_READ_STREAM& record);

} // namespace fault_bench
