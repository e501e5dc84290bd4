// The raw sink's coalesced twin with BSD sockets: UDP_GRO on the socket, the segment size from the
// control message of each receive.
#include "gro_sink.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "host_memory.h"
#include "stream_camera.h"

namespace stream_bench {

namespace {

// The most one coalesced receive holds: a UDP length field's worth.
constexpr std::size_t kLargestReceive = 65536;

// The segment size the system reports for a coalesced receive; the whole receive when it reports
// none (a single datagram).
std::size_t segmentSize(msghdr& message, std::size_t length)
{
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_UDP && item->cmsg_type == UDP_GRO) {
            int size = 0;
            std::memcpy(&size, CMSG_DATA(item), sizeof(size));
            return size > 0 ? std::size_t(size) : length;
        }
    }
    return length;
}

} // namespace

CoalescedSink::CoalescedSink()
{
    fd_ = rawSinkSocket(port_);
}

CoalescedSink::~CoalescedSink()
{
    close(fd_);
}

std::unique_ptr<CoalescedSink> CoalescedSink::open(std::string& why)
{
    std::unique_ptr<CoalescedSink> sink(new CoalescedSink());
    const int on = 1;
    if (setsockopt(sink->fd_, IPPROTO_UDP, UDP_GRO, &on, sizeof(on)) != 0) {
        why = std::string("the system refused coalesced receives: ") + std::strerror(errno);
        return nullptr;
    }
    return sink;
}

bool CoalescedSink::take(std::chrono::milliseconds limit, HostMemory& memory)
{
    pollfd watched{fd_, POLLIN, 0};
    if (poll(&watched, 1, int(limit.count())) <= 0)
        return false;
    for (;;) {
        const std::span<uint8_t> region = memory.nextRegion(kLargestReceive);
        iovec piece{region.data(), region.size()};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
        msghdr message{};
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t length = recvmsg(fd_, &message, MSG_DONTWAIT);
        if (length <= 0)
            return true;
        const std::size_t segment = segmentSize(message, std::size_t(length));
        for (std::size_t at = 0; at < std::size_t(length); at += segment)
            memory.landed(region.subspan(at, std::min(segment, std::size_t(length) - at)));
    }
}

} // namespace stream_bench
