// UDP stream channel of a stand-in camera with Winsock. Windows has no sendmmsg: each datagram
// goes out in its own WSASendTo, gathered from its pieces, and no segmentation offload.
#include "sim/stream/stream_udp.h"

#include "platform/win_sockets.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"
#include "sim/net/win_socket_address.h"

namespace hxsim {
namespace {

using winsock::handle;
using winsock::toSockaddr;

// Nothing waits for room in the send buffer: the caller waits until the socket turns writable.
bool blocked(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAENOBUFS;
}

} // namespace

UdpStreamLink::UdpStreamLink(uint32_t cameraAddress) : socket_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP))
{
    sockaddr_in address = toSockaddr(cameraAddress, 0);
    int size = sizeof address;
    u_long nonBlocking = 1;
    if (!socket_ || ::ioctlsocket(handle(socket_.get()), FIONBIO, &nonBlocking) != 0 ||
        ::bind(handle(socket_.get()), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::getsockname(handle(socket_.get()), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error(fmt::format("cannot open the stream socket on {}: {}", dotted(cameraAddress),
                                             halvex::platform::errnoText(::WSAGetLastError())));
    }
    port_ = ntohs(address.sin_port);
}

UdpStreamLink::SendResult UdpStreamLink::send(std::span<const uint8_t> datagram, Endpoint to)
{
    SendPiece piece{const_cast<uint8_t*>(datagram.data()), datagram.size()};
    const std::size_t count = 1;
    std::size_t sent = 0;
    return sendMany(std::span<SendPiece>(&piece, 1), std::span<const std::size_t>(&count, 1), to, sent);
}

UdpStreamLink::SendResult UdpStreamLink::sendMany(std::span<SendPiece> parts, std::span<const std::size_t> counts,
                                                  Endpoint to, std::size_t& sent)
{
    sent = 0;
    const sockaddr_in target = toSockaddr(to.address, to.port);
    std::vector<WSABUF> buffers;
    std::size_t first = 0;
    for (const std::size_t count : counts) {
        buffers.clear();
        for (std::size_t i = first; i < first + count; ++i) {
            buffers.push_back(WSABUF{static_cast<ULONG>(parts[i].iov_len), static_cast<char*>(parts[i].iov_base)});
        }
        first += count;
        DWORD bytes = 0;
        if (::WSASendTo(handle(socket_.get()), buffers.data(), static_cast<DWORD>(buffers.size()), &bytes, 0,
                        reinterpret_cast<const sockaddr*>(&target), sizeof target, nullptr, nullptr) == 0) {
            ++sent;
            continue;
        }
        lastError_ = ::WSAGetLastError();
        if (blocked(lastError_)) {
            return SendResult::Blocked;
        }
        ++sent; // the refused datagram is given up, as a lost one would be
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

} // namespace hxsim
