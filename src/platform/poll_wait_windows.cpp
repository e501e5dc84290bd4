// Waits with a time limit on a set of sockets and events: each socket's read, accept, close (and,
// when watched, connect and write) notifications are bound to an event of the set with
// WSAEventSelect, WSAWaitForMultipleEvents waits for any event, and WSAEnumNetworkEvents tells
// what happened on each socket.
#include "platform/poll_wait.h"

#include <algorithm>
#include <stdexcept>

#include "hlv_thread/wake.h"
#include "platform/event_fd.h"
#include "platform/win_sockets.h"

namespace halvex::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Whole milliseconds, rounded up so a wait never ends before its deadline.
DWORD timeoutMs(std::optional<Clock::time_point> deadline)
{
    if (!deadline)
        return WSA_INFINITE;
    const auto remaining = *deadline - Clock::now();
    if (remaining <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return static_cast<DWORD>(std::min<decltype(ms)>(ms, WSA_INFINITE - 1));
}

long interest(bool watchWrite)
{
    return FD_READ | FD_ACCEPT | FD_CLOSE | (watchWrite ? FD_CONNECT | FD_WRITE : 0);
}

} // namespace

PollSet::~PollSet()
{
    for (Entry& entry : entries_) {
        if (!entry.ownsEvent)
            continue;
        if (isDescriptor(entry.socket))
            ::WSAEventSelect(static_cast<SOCKET>(entry.socket), nullptr, 0);
        ::WSACloseEvent(entry.event);
    }
}

std::size_t PollSet::add(Descriptor fd, bool watchWrite)
{
    Entry entry;
    entry.socket = fd;
    entry.watchWrite = watchWrite;
    entry.event = ::WSACreateEvent();
    if (entry.event == WSA_INVALID_EVENT)
        throw std::runtime_error("WSACreateEvent failed");
    entry.ownsEvent = true;
    entries_.push_back(entry);
    handles_.push_back(entry.event);
    return entries_.size() - 1;
}

std::size_t PollSet::add(const EventFd& event)
{
    Entry entry;
    entry.event = event.handle();
    entries_.push_back(entry);
    handles_.push_back(entry.event);
    return entries_.size() - 1;
}

std::size_t PollSet::add(const thread::Wake& wake)
{
    Entry entry;
    entry.event = reinterpret_cast<void*>(wake.handle());
    entries_.push_back(entry);
    handles_.push_back(entry.event);
    return entries_.size() - 1;
}

void PollSet::watchWrite(std::size_t index, bool watch)
{
    entries_.at(index).watchWrite = watch;
}

PollStatus PollSet::wait(std::optional<std::chrono::milliseconds> limit)
{
    std::optional<Clock::time_point> deadline;
    if (limit)
        deadline = Clock::now() + *limit;
    bool ready = false;
    bool pending = false;
    for (Entry& entry : entries_) {
        entry.found = PollEvents{};
        if (!entry.ownsEvent)
            continue;
        ::WSAResetEvent(entry.event);
        if (::WSAEventSelect(static_cast<SOCKET>(entry.socket), entry.event, interest(entry.watchWrite)) != 0) {
            entry.found.closed = true; // not an open socket
            ready = true;
            continue;
        }
        // FD_READ is an edge: once reported it comes again only after a receive, and binding again
        // does not report data already waiting everywhere (Wine does not). A datagram that arrived
        // while the loop served something else would then wait for the next one; asking the socket
        // makes the wait level-triggered like poll().
        u_long waiting = 0;
        if (::ioctlsocket(static_cast<SOCKET>(entry.socket), FIONREAD, &waiting) == 0 && waiting > 0) {
            entry.found.readable = true;
            pending = true;
        }
    }
    if (ready)
        return PollStatus::Ready;
    if (entries_.empty())
        return PollStatus::TimedOut;
    for (;;) {
        if (pending)
            break; // only look at the others below
        const DWORD result = ::WSAWaitForMultipleEvents(static_cast<DWORD>(handles_.size()), handles_.data(), FALSE,
                                                        timeoutMs(deadline), FALSE);
        if (result == WSA_WAIT_FAILED) {
            error_ = ::WSAGetLastError();
            return PollStatus::Failed;
        }
        if (result == WSA_WAIT_TIMEOUT) {
            if (deadline && Clock::now() < *deadline)
                continue;
            return PollStatus::TimedOut;
        }
        if (result == WSA_WAIT_IO_COMPLETION)
            continue;
        break;
    }
    for (Entry& entry : entries_) {
        if (!entry.ownsEvent) {
            void* one[1] = {entry.event};
            entry.found.readable = ::WSAWaitForMultipleEvents(1, one, FALSE, 0, FALSE) == WSA_WAIT_EVENT_0;
            continue;
        }
        WSANETWORKEVENTS network{};
        if (::WSAEnumNetworkEvents(static_cast<SOCKET>(entry.socket), entry.event, &network) != 0) {
            entry.found.closed = true;
            continue;
        }
        entry.found.readable = entry.found.readable || (network.lNetworkEvents & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0;
        entry.found.writable = entry.watchWrite && (network.lNetworkEvents & (FD_CONNECT | FD_WRITE)) != 0;
        entry.found.closed = (network.lNetworkEvents & FD_CLOSE) != 0 ||
                             ((network.lNetworkEvents & FD_CONNECT) != 0 && network.iErrorCode[FD_CONNECT_BIT] != 0);
    }
    return PollStatus::Ready;
}

PollEvents PollSet::events(std::size_t index) const
{
    return entries_.at(index).found;
}

} // namespace halvex::platform
