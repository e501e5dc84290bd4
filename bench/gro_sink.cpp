// The raw sink's coalesced twin: a plain socket that asks the system for the camera's datagrams
// several at a time (UDP_GRO) and reads them 64 KiB per call, for the pipeline benchmark.
#include "gro_sink.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wire/stream_packet.h"

namespace stream_bench {

namespace {

// The most one coalesced receive holds: a UDP length field's worth.
constexpr std::size_t kLargestReceive = 65536;

} // namespace

void askCoalescedReceive(int fd)
{
    const int on = 1;
    if (setsockopt(fd, IPPROTO_UDP, UDP_GRO, &on, sizeof(on)) != 0) {
        std::fprintf(stderr, "pipeline: the system refused coalesced receives: %s\n", std::strerror(errno));
        std::exit(1);
    }
}

unsigned drainCoalescedPayload(int fd, Bytes& sink, std::size_t& offset, uint64_t& bytes)
{
    unsigned trailers = 0;
    for (;;) {
        if (offset + kLargestReceive > sink.size())
            offset = 0;
        iovec piece{sink.data() + offset, kLargestReceive};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
        msghdr message{};
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t length = recvmsg(fd, &message, MSG_DONTWAIT);
        if (length <= 0)
            return trailers;
        std::size_t segment = std::size_t(length);
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
            int size = 0;
            if (item->cmsg_level == SOL_UDP && item->cmsg_type == UDP_GRO) {
                std::memcpy(&size, CMSG_DATA(item), sizeof(size));
                segment = size > 0 ? std::size_t(size) : segment;
            }
        }
        const uint8_t* received = sink.data() + offset;
        for (std::size_t at = 0; at < std::size_t(length); at += segment) {
            const std::size_t datagram = std::min(segment, std::size_t(length) - at);
            if (datagram > 8 && received[at + 4] == HX_WIRE::PacketFormat::kPayload)
                bytes += datagram - 8;
            else if (datagram >= 8 && received[at + 4] == HX_WIRE::PacketFormat::kTrailer)
                ++trailers;
        }
        offset += std::size_t(length);
    }
}

} // namespace stream_bench
