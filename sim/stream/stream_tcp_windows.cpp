// TCP stream channel of a stand-in camera with Winsock.
#include "sim/stream/stream_tcp.h"

#include "platform/win_sockets.h"

#include <array>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"
#include "sim/net/win_socket_address.h"
#include "wire/stream_packet.h"

namespace hxsim {
namespace {

// Connections a host may open before the camera has taken the previous ones.
constexpr int kBacklog = 4;
// Connections taken in one call; the newest wins.
constexpr int kAcceptsPerCall = 8;
// Reads of what a host sends (it should send nothing) before other work gets a turn.
constexpr int kReadsPerCall = 64;

using winsock::handle;

bool makeNonBlocking(SOCKET socket)
{
    u_long nonBlocking = 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

} // namespace

TcpStreamLink::TcpStreamLink(uint32_t cameraAddress) : listener_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(halvex::wire::kTcpStreamPort);
    address.sin_addr.s_addr = htonl(cameraAddress);
    // As on Linux, a camera started again at once gets its port back past the old connections.
    const BOOL on = TRUE;
    if (!listener_ || !makeNonBlocking(handle(listener_.get())) ||
        ::setsockopt(handle(listener_.get()), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0 ||
        ::bind(handle(listener_.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(handle(listener_.get()), kBacklog) != 0) {
        throw std::runtime_error(fmt::format("cannot listen on {}:{}: {}", dotted(cameraAddress),
                                             halvex::wire::kTcpStreamPort,
                                             halvex::platform::errnoText(::WSAGetLastError())));
    }
}

bool TcpStreamLink::acceptWaiting()
{
    bool replaced = false;
    for (int i = 0; i < kAcceptsPerCall; ++i) {
        sockaddr_in from{};
        int size = sizeof from;
        const SOCKET accepted = ::accept(handle(listener_.get()), reinterpret_cast<sockaddr*>(&from), &size);
        if (accepted == INVALID_SOCKET) {
            const int error = ::WSAGetLastError();
            if (error == WSAECONNRESET) {
                continue; // the host gave up before it was taken
            }
            lastError_ = error == WSAEWOULDBLOCK ? 0 : error;
            break;
        }
        halvex::platform::UniqueFd connection(static_cast<halvex::platform::Descriptor>(accepted));
        if (!makeNonBlocking(accepted)) {
            lastError_ = ::WSAGetLastError();
            continue;
        }
        connection_ = std::move(connection);
        peer_ = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        replaced = true;
    }
    return replaced;
}

bool TcpStreamLink::drainIncoming()
{
    std::array<char, 512> scratch{};
    for (int reads = 0; reads < kReadsPerCall; ++reads) {
        const int got = ::recv(handle(connection_.get()), scratch.data(), static_cast<int>(scratch.size()), 0);
        if (got > 0) {
            continue;
        }
        const int error = got < 0 ? ::WSAGetLastError() : 0;
        if (got < 0 && error == WSAEWOULDBLOCK) {
            return true;
        }
        lastError_ = error;
        connection_.reset();
        return false;
    }
    return true;
}

// Header and image go out in one call: a write per packet would cost a system call per 9 KB.
TcpStreamLink::SendResult TcpStreamLink::send(std::span<const SendPiece> parts, std::size_t& sent)
{
    sent = 0;
    if (!connection_) {
        return SendResult::Broken;
    }
    std::vector<WSABUF> buffers;
    buffers.reserve(parts.size());
    for (const SendPiece& part : parts) {
        buffers.push_back(WSABUF{static_cast<ULONG>(part.iov_len), static_cast<char*>(part.iov_base)});
    }
    DWORD count = 0;
    if (::WSASend(handle(connection_.get()), buffers.data(), static_cast<DWORD>(buffers.size()), &count, 0, nullptr,
                  nullptr) == 0) {
        sent = count;
        return SendResult::Progress;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return SendResult::Blocked;
    }
    lastError_ = error;
    connection_.reset();
    return SendResult::Broken;
}

// A zero linger time makes closesocket() send a reset instead of an orderly end, and leaves
// nothing of the connection behind on the camera's side.
void TcpStreamLink::cut()
{
    if (connection_) {
        const linger abort{1, 0};
        ::setsockopt(handle(connection_.get()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                     sizeof abort);
        connection_.reset();
    }
}

} // namespace hxsim
