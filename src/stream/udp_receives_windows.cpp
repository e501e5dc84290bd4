// The UDP image receiver's receives, Windows half: one datagram per call (Winsock has no batch
// receive); a packet that continues the image is scattered straight into the host buffer with
// WSARecvFrom.
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
#include "stream/udp_receives.h"
#include "stream/udp_stream.h"

namespace halvex::stream {

using control::ReceivedDatagram;

using thread::TRACE_STREAM;

// This half reads one datagram per receive; the system's own coalescing is not asked for here.
void UdpReceives::chooseReceive()
{
    HLV_LOG("%s(%s): plain receive: the system does not coalesce the camera's datagrams", "UdpStream::sockInit",
            stream_.where());
}

bool UdpReceives::readBatch()
{
    uint8_t* slot = stream_.bounce_.data();
    const ReceivedDatagram received = stream_.socket_.get()->receive({slot, UdpStream::MAX_DATAGRAM});
    if (received.kind == ReceivedDatagram::Kind::Failed)
        return false;
    if (received.kind == ReceivedDatagram::Kind::Oversized) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped an oversized datagram", "UdpStream::readDatagrams", stream_.where());
        return true;
    }
    if (received.kind != ReceivedDatagram::Kind::Datagram)
        return false; // nothing waits
    if (received.source.address != stream_.cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a datagram from another address", "UdpStream::readDatagrams",
                  stream_.where());
        return true;
    }
    stream_.handleDatagram({slot, received.length});
    return true;
}

// The packet's header lands in the bounce buffer, its data at the active position as far as
// the buffer has room, the rest after the header in the bounce buffer: never more than one
// datagram's worth, never past the buffer's end.
bool UdpReceives::readIntoHostBuffer()
{
    const std::size_t header = wire::kStreamHeaderSize;
    const std::size_t room = std::min(stream_.remaining_, UdpStream::MAX_DATAGRAM - header);
    std::array<WSABUF, 3> pieces{{{static_cast<ULONG>(header), reinterpret_cast<char*>(stream_.bounce_.data())},
                                  {static_cast<ULONG>(room), reinterpret_cast<char*>(stream_.activeData_)},
                                  {static_cast<ULONG>(UdpStream::MAX_DATAGRAM - header - room),
                                   reinterpret_cast<char*>(stream_.bounce_.data() + header)}}};
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
    if (WSARecvFrom(static_cast<SOCKET>(stream_.socket_.get()->fd()), pieces.data(), count, &length, &flags,
                    reinterpret_cast<sockaddr*>(&source), &sourceLength, nullptr, nullptr) != 0) {
        const int error = WSAGetLastError();
        if (error != WSAEMSGSIZE) {
            noteReceiveError(error);
            return false;
        }
        oversized = true;
    }
    if (oversized || source.sin_addr.s_addr != stream_.cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a foreign or oversized datagram", "UdpStream::readDatagrams",
                  stream_.where());
        return true;
    }
    stream_.acceptScattered(std::size_t(length), room);
    return true;
}

void UdpReceives::noteReceiveError(int error)
{
    // A reset reports an earlier send that found no listener; it says nothing of this socket.
    if (error != WSAEWOULDBLOCK && error != WSAECONNRESET)
        HLV_LOG("%s(%s): failed to read the UDP stream socket.\n%s", "UdpStream::readDatagrams", stream_.where(),
                platform::errnoIndicates(error).c_str());
}

} // namespace halvex::stream
