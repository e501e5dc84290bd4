// UDP stream channel of a stand-in camera with BSD sockets: datagrams in batches through sendmmsg.
#include "sim/stream/stream_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"
#include "sim/stream/segment_runs.h"

namespace hxsim {

UdpStreamLink::UdpStreamLink(uint32_t cameraAddress)
    : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(cameraAddress);
    socklen_t size = sizeof address;
    if (!socket_ || ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error(fmt::format("cannot open the stream socket on {}: {}", dotted(cameraAddress),
                                             halvex::platform::errnoText(errno)));
    }
    port_ = ntohs(address.sin_port);
}

UdpStreamLink::SendResult UdpStreamLink::send(std::span<const uint8_t> datagram, Endpoint to)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    for (;;) {
        const ssize_t sent = ::sendto(socket_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent >= 0) {
            return SendResult::Sent;
        }
        if (errno == EINTR) {
            continue;
        }
        lastError_ = errno;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? SendResult::Blocked : SendResult::Failed;
    }
}

UdpStreamLink::SendResult UdpStreamLink::sendMany(std::span<SendPiece> parts, std::span<const std::size_t> counts,
                                                  Endpoint to, std::size_t& sent)
{
    sent = 0;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    if (!segment_) {
        return sendEach(parts, counts, target, sent);
    }
    const SendResult result = sendSegmented(parts, counts, target, sent);
    if (segment_ || sent >= counts.size()) {
        return result;
    }
    // Refused: what is left goes datagram by datagram, from the first datagram not sent.
    std::size_t first = 0;
    for (std::size_t i = 0; i < sent; ++i) {
        first += counts[i];
    }
    std::size_t more = 0;
    const SendResult rest = sendEach(parts.subspan(first), counts.subspan(sent), target, more);
    sent += more;
    return rest;
}

UdpStreamLink::SendResult UdpStreamLink::sendEach(std::span<SendPiece> parts, std::span<const std::size_t> counts,
                                                  sockaddr_in& target, std::size_t& sent)
{
    headers_.assign(counts.size(), mmsghdr{});
    std::size_t first = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        msghdr& message = headers_[i].msg_hdr;
        message.msg_name = &target;
        message.msg_namelen = sizeof target;
        message.msg_iov = parts.data() + first;
        message.msg_iovlen = counts[i];
        first += counts[i];
    }
    while (sent < headers_.size()) {
        const auto left = static_cast<unsigned>(headers_.size() - sent);
        const int count = ::sendmmsg(socket_.get(), headers_.data() + sent, left, MSG_DONTWAIT);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        lastError_ = count < 0 ? errno : EIO;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            return SendResult::Blocked;
        }
        ++sent; // the refused datagram is given up, as a lost one would be
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

// Runs of equal-size datagrams go out as one message each, with their segment size; the system
// cuts them apart again (or, over loopback, hands them to a receiver that asked for it whole).
// A segmented message the system refuses outright turns segmenting off; the caller sends the
// rest datagram by datagram.
UdpStreamLink::SendResult UdpStreamLink::sendSegmented(std::span<SendPiece> parts, std::span<const std::size_t> counts,
                                                       sockaddr_in& target, std::size_t& sent)
{
    sizes_.clear();
    firstParts_.clear();
    std::size_t part = 0;
    for (const std::size_t count : counts) {
        firstParts_.push_back(part);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            bytes += parts[part + i].iov_len;
        }
        sizes_.push_back(bytes);
        part += count;
    }
    segmentRuns(sizes_, runs_);
    headers_.assign(runs_.size(), mmsghdr{});
    controls_.assign(runs_.size(), SegmentControl{});
    std::size_t datagram = 0;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        const std::size_t end = datagram + runs_[r];
        msghdr& message = headers_[r].msg_hdr;
        message.msg_name = &target;
        message.msg_namelen = sizeof target;
        message.msg_iov = parts.data() + firstParts_[datagram];
        message.msg_iovlen = (end < counts.size() ? firstParts_[end] : parts.size()) - firstParts_[datagram];
        if (runs_[r] > 1) {
            message.msg_control = controls_[r].bytes;
            message.msg_controllen = sizeof controls_[r].bytes;
            cmsghdr* control = CMSG_FIRSTHDR(&message);
            control->cmsg_level = SOL_UDP;
            control->cmsg_type = UDP_SEGMENT;
            control->cmsg_len = CMSG_LEN(sizeof(uint16_t));
            const auto segment = static_cast<uint16_t>(sizes_[datagram]);
            std::memcpy(CMSG_DATA(control), &segment, sizeof segment);
        }
        datagram = end;
    }
    std::size_t runsSent = 0;
    while (runsSent < headers_.size()) {
        const auto left = static_cast<unsigned>(headers_.size() - runsSent);
        const int count = ::sendmmsg(socket_.get(), headers_.data() + runsSent, left, MSG_DONTWAIT);
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                sent += runs_[runsSent++];
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        lastError_ = count < 0 ? errno : EIO;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            return SendResult::Blocked;
        }
        if (runs_[runsSent] > 1) {
            segment_ = false;
            segmentationRefusal_ = lastError_;
            return SendResult::Failed;
        }
        sent += runs_[runsSent]; // the refused datagram is given up, as a lost one would be
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

} // namespace hxsim
