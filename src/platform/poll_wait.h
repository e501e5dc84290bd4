// Waits with a time limit on a set of sockets and events and tells which are readable, writable
// (a connect has completed) or closed: poll() on POSIX; WSAEventSelect with
// WSAWaitForMultipleEvents and WSAEnumNetworkEvents on Windows.
#pragma once

#if !defined(_WIN32)
#  include <poll.h>
#endif

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/unique_fd.h"

namespace halvex::thread {
class Wake;
}

namespace halvex::platform {

class EventFd;

struct PollEvents {
    bool readable = false;
    bool writable = false;
    bool closed = false; // hung up, in error, or not an open descriptor
    bool any() const { return readable || writable || closed; }
};

enum class PollStatus { Ready, TimedOut, Failed };

// One wait loop's sockets and events. Not shared between threads; reuse it across waits so a
// wait allocates nothing.
class PollSet {
public:
    PollSet() = default;
    ~PollSet();
    PollSet(const PollSet&) = delete;
    PollSet& operator=(const PollSet&) = delete;

    // Watches a socket (any descriptor on POSIX) for reading, and for writing when asked; returns
    // its index for events().
    std::size_t add(Descriptor fd, bool watchWrite = false);
    // Watches an event; it reads as readable while it is set.
    std::size_t add(const EventFd& event);
    // Watches a message thread's wake; it reads as readable while it is set.
    std::size_t add(const thread::Wake& wake);
    void watchWrite(std::size_t index, bool watch);
    std::size_t size() const { return entries_.size(); }

    // Waits until an entry is ready or `limit` has passed (no limit when nullopt). A signal
    // does not end the wait early: it goes on for the time that remains. On Failed, error()
    // holds the system's code.
    PollStatus wait(std::optional<std::chrono::milliseconds> limit);
    // What the last wait found for the entry at `index`.
    PollEvents events(std::size_t index) const;
    int error() const { return error_; }

private:
#if defined(_WIN32)
    // A socket gets an event of the set's own, bound to it by WSAEventSelect before each wait (a
    // socket has one binding at a time, and binding again reports what is already pending, so a
    // wait sees the socket's state as poll() would); an EventFd or a wake is waited on directly.
    struct Entry {
        Descriptor socket = NO_DESCRIPTOR;
        void* event = nullptr;
        bool ownsEvent = false;
        bool watchWrite = false;
        PollEvents found;
    };
    std::vector<Entry> entries_;
    std::vector<void*> handles_;
#else
    std::vector<pollfd> entries_;
#endif
    int error_ = 0;
};

} // namespace halvex::platform
