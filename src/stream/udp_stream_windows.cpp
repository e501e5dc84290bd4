// A UDP stream receiver, Windows half: the wait on the stream socket and the message event, and
// the receives, one datagram per call (Winsock has no batch receive); a packet that continues the
// image is scattered straight into the host buffer with WSARecvFrom.
#include "platform/win_sockets.h"

#include <algorithm>
#include <array>

#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "stream/udp_negotiation.h"
#include "stream/udp_stream.h"

using HLV_THREAD::TRACE_STREAM;

bool UdpStream::readBatch()
{
    uint8_t* slot = bounce_.data();
    const ReceivedDatagram received = socket_->receive({slot, MAX_DATAGRAM});
    if (received.kind == ReceivedDatagram::Kind::Failed)
        return false;
    if (received.kind == ReceivedDatagram::Kind::Oversized) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped an oversized datagram", "UdpStream::readDatagrams", where());
        return true;
    }
    if (received.kind != ReceivedDatagram::Kind::Datagram)
        return false; // nothing waits
    if (received.source.address != cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a datagram from another address", "UdpStream::readDatagrams", where());
        return true;
    }
    handleDatagram({slot, received.length});
    return true;
}

// The packet's header lands in the bounce buffer, its data at the active position as far as
// the buffer has room, the rest after the header in the bounce buffer: never more than one
// datagram's worth, never past the buffer's end.
bool UdpStream::readIntoHostBuffer()
{
    const std::size_t header = HX_WIRE::kStreamHeaderSize;
    const std::size_t room = std::min(remaining_, MAX_DATAGRAM - header);
    std::array<WSABUF, 3> pieces{
        {{static_cast<ULONG>(header), reinterpret_cast<char*>(bounce_.data())},
         {static_cast<ULONG>(room), reinterpret_cast<char*>(activeData_)},
         {static_cast<ULONG>(MAX_DATAGRAM - header - room), reinterpret_cast<char*>(bounce_.data() + header)}}};
    // No empty piece: Wine mis-scatters a datagram over a piece of length zero. With the image's
    // room used up (the trailer comes next) the host buffer is left out, and with room for a whole
    // datagram the bounce buffer's tail is.
    DWORD count = 0;
    for (const WSABUF& piece : pieces) {
        if (piece.len != 0)
            pieces[count++] = piece;
    }
    sockaddr_in source{};
    int sourceLength = sizeof(source);
    DWORD length = 0;
    DWORD flags = 0;
    bool oversized = false;
    if (WSARecvFrom(static_cast<SOCKET>(socket_->fd()), pieces.data(), count, &length, &flags,
                    reinterpret_cast<sockaddr*>(&source), &sourceLength, nullptr, nullptr) != 0) {
        const int error = WSAGetLastError();
        if (error != WSAEMSGSIZE) {
            noteReceiveError(error);
            return false;
        }
        oversized = true;
    }
    if (oversized || source.sin_addr.s_addr != cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a foreign or oversized datagram", "UdpStream::readDatagrams", where());
        return true;
    }
    acceptScattered(std::size_t(length), room);
    return true;
}

void UdpStream::noteReceiveError(int error)
{
    // A reset reports an earlier send that found no listener; it says nothing of this socket.
    if (error != WSAEWOULDBLOCK && error != WSAECONNRESET)
        HLV_LOG("%s(%s): failed to read the UDP stream socket.\n%s", "UdpStream::readDatagrams", where(),
                HX_PLATFORM::errnoIndicates(error).c_str());
}
