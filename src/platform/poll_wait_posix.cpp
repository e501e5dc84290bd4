// Waits with a time limit on a set of descriptors (sockets and event fds) and tells which are
// readable, writable (a connect has completed) or closed.
#include "platform/poll_wait.h"

#include "hlv_thread/wake.h"
#include "platform/event_fd.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace halvex::platform {

namespace {

using Clock = std::chrono::steady_clock;

// poll() takes whole milliseconds as an int: round up, so a wait never ends before its deadline
// and never spins with a zero time-out while time remains.
int timeoutMs(std::optional<Clock::time_point> deadline)
{
    if (!deadline) {
        return -1;
    }
    const auto remaining = *deadline - Clock::now();
    if (remaining <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

} // namespace

PollSet::~PollSet() = default;

std::size_t PollSet::add(const EventFd& event)
{
    return add(event.fd());
}

std::size_t PollSet::add(const thread::Wake& wake)
{
    return add(static_cast<int>(wake.handle()));
}

std::size_t PollSet::add(int fd, bool watchWrite)
{
    entries_.push_back(pollfd{fd, static_cast<short>(POLLIN | (watchWrite ? POLLOUT : 0)), 0});
    return entries_.size() - 1;
}

void PollSet::watchWrite(std::size_t index, bool watch)
{
    pollfd& entry = entries_.at(index);
    entry.events = static_cast<short>(watch ? (entry.events | POLLOUT) : (entry.events & ~POLLOUT));
}

PollStatus PollSet::wait(std::optional<std::chrono::milliseconds> limit)
{
    std::optional<Clock::time_point> deadline;
    if (limit) {
        deadline = Clock::now() + *limit;
    }
    for (pollfd& entry : entries_) {
        entry.revents = 0;
    }
    for (;;) {
        const int ready = ::poll(entries_.data(), entries_.size(), timeoutMs(deadline));
        if (ready > 0) {
            return PollStatus::Ready;
        }
        if (ready == 0) {
            if (deadline && Clock::now() < *deadline) {
                continue; // woke a little early (timer slack); wait out the rest
            }
            return PollStatus::TimedOut;
        }
        if (errno != EINTR) {
            error_ = errno;
            return PollStatus::Failed;
        }
    }
}

PollEvents PollSet::events(std::size_t index) const
{
    const short revents = entries_.at(index).revents;
    PollEvents events;
    events.readable = (revents & POLLIN) != 0;
    events.writable = (revents & POLLOUT) != 0;
    events.closed = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return events;
}

} // namespace halvex::platform
