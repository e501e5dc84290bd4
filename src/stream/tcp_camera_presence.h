// Whether a camera is still there for the TCP image receiver to connect to, and whom to tell when
// a camera that is there keeps refusing the connection.
#pragma once

#include <cstdint>
#include <functional>

namespace halvex::stream {

// Process-wide: tests and embedders replace the defaults, which ask the camera's control channel
// and discovery. Threads: any thread; the receivers ask from their own threads.
class TcpCameraPresence {
public:
    // Without a check (the default, and after setting an empty one) a camera is present while it
    // has a control channel that is not faulted.
    using Check = std::function<bool(uint32_t cameraAddress)>;
    static void set(Check check);
    // Told when a camera that is present keeps refusing the connection through the longest delay:
    // its images have stopped for good. Without one (the default, and after setting an empty one)
    // discovery drops the camera, which reports it lost and finds it again on a later reply.
    using LossReport = std::function<void(uint32_t cameraAddress)>;
    static void setLossReport(LossReport report);

    static bool present(uint32_t cameraAddress);
    static void reportLoss(uint32_t cameraAddress);
};

} // namespace halvex::stream
