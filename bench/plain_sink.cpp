// The plain raw sink with BSD sockets: recvmsg gathers the header apart and the payload in place.
#include "plain_sink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include "host_memory.h"
#include "stream_camera.h"

namespace stream_bench {

PlainSink::PlainSink()
{
    fd_ = rawSinkSocket(port_);
}

PlainSink::~PlainSink()
{
    close(fd_);
}

bool PlainSink::take(std::chrono::milliseconds limit, HostMemory& memory)
{
    pollfd watched{fd_, POLLIN, 0};
    if (poll(&watched, 1, int(limit.count())) <= 0)
        return false;
    std::array<uint8_t, kHeaderBytes> header{};
    for (;;) {
        const std::span<uint8_t> payload = memory.nextPayload();
        iovec parts[2] = {{header.data(), header.size()}, {payload.data(), payload.size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        const ssize_t length = recvmsg(fd_, &message, MSG_DONTWAIT);
        if (length < 0)
            return true;
        if (length >= ssize_t(kHeaderBytes))
            memory.received(header, std::size_t(length) - kHeaderBytes);
    }
}

} // namespace stream_bench
