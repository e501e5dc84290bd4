// The wait of the caller that reads a control channel's socket for the answers: the control
// socket and a wake event that others set when the reader's request ends elsewhere.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace halvex::platform {
class EventFd;
class PollSet;
} // namespace halvex::platform

namespace halvex::control {

// What a caller reading the control socket found in one wait.
enum class ControlTraffic { Readable, Quiet, Failed };

// Threads: wait() only by the caller holding the reading role; wake() from any thread.
class ReaderWait {
public:
    explicit ReaderWait(const std::string& cameraName);
    ~ReaderWait();

    // Raises a system error when the wake event cannot be made.
    void open(platform::Descriptor controlSocket);
    // For a control datagram, the wake event, or at most `limit`.
    ControlTraffic wait(std::chrono::milliseconds limit);
    void wake();
    void close();

private:
    const std::string& cameraName_;
    std::unique_ptr<platform::EventFd> wake_;
    std::unique_ptr<platform::PollSet> poll_;
};

} // namespace halvex::control
