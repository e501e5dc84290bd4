// The UDP image receiver's receives, operating-system half: the drain of the stream socket
// into the bounce buffer or the host's buffer, datagram by datagram or coalesced (UDP_GRO).
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "platform/retried_call.h"
#include "stream/coalesced_datagrams.h"
#include "stream/coalesced_receive_switch.h"
#include "stream/scattered_bytes.h"
#include "stream/udp_receives.h"
#include "stream/udp_stream.h"

namespace halvex::stream {

using thread::TRACE_STREAM;

namespace {

constexpr std::size_t DATAGRAMS_PER_CALL = UdpStream::BOUNCE_BUFFER_SIZE / UdpStream::MAX_DATAGRAM;
// A coalesced receive into the host buffer: a header piece and a payload piece per datagram
// placed, and the tail.
constexpr std::size_t MAX_PIECES = 2 * CoalescedDatagrams::MAX_SEGMENTS + 1;

bool switchedOffByEnvironment()
{
    const char* value = std::getenv("HX_UDP_GRO");
    return value != nullptr && std::strcmp(value, "0") == 0;
}

} // namespace

void UdpReceives::chooseReceive()
{
    const char* who = "UdpStream::sockInit";
    coalesced_ = false;
    if (!CoalescedReceiveSwitch::allowed() || switchedOffByEnvironment()) {
        HLV_LOG("%s(%s): plain receive: coalesced receive is switched off", who, stream_.where());
        return;
    }
    const int on = 1;
    if (setsockopt(stream_.socket_.get()->fd(), IPPROTO_UDP, UDP_GRO, &on, sizeof(on)) != 0) {
        HLV_LOG("%s(%s): plain receive: the system refused to coalesce the camera's datagrams.\n%s", who,
                stream_.where(), platform::errnoIndicates(errno).c_str());
        return;
    }
    coalesced_ = true;
    coalescedTail_.resize(CoalescedDatagrams::MAX_RECEIVE);
    coalescedWhole_.resize(CoalescedDatagrams::MAX_RECEIVE);
    HLV_LOG("%s(%s): coalesced receive on: up to %zu of the camera's datagrams per receive", who, stream_.where(),
            CoalescedDatagrams::MAX_SEGMENTS);
}

bool UdpReceives::readBatch()
{
    if (coalesced_)
        return readCoalesced();
    std::array<mmsghdr, DATAGRAMS_PER_CALL> headers{};
    std::array<iovec, DATAGRAMS_PER_CALL> pieces{};
    std::array<sockaddr_in, DATAGRAMS_PER_CALL> sources{};
    for (std::size_t i = 0; i < DATAGRAMS_PER_CALL; ++i) {
        pieces[i] = {stream_.bounce_.data() + i * UdpStream::MAX_DATAGRAM, UdpStream::MAX_DATAGRAM};
        headers[i].msg_hdr.msg_iov = &pieces[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        headers[i].msg_hdr.msg_name = &sources[i];
        headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    const int count = platform::retried([&] {
        return recvmmsg(stream_.socket_.get()->fd(), headers.data(), DATAGRAMS_PER_CALL, MSG_DONTWAIT, nullptr);
    });
    if (count <= 0) {
        if (count < 0)
            noteReceiveError(errno);
        return false;
    }
    for (std::size_t i = 0; i < std::size_t(count); ++i)
        acceptDatagram(headers[i], pieces[i], sources[i]);
    return true;
}

bool UdpReceives::readIntoHostBuffer()
{
    if (coalesced_)
        return readCoalescedIntoHostBuffer();
    const std::size_t count = payloadBatchSize(UdpStream::PAYLOAD_BATCH);
    return count > 1 ? readPayloadBatch(count) : readOneIntoHostBuffer();
}

// How many packets of the usual payload can be received at once at the places they take: each
// lies whole within the image and the active buffer, and none but the last ends the image or
// leaves the buffer too full for another packet (which would hand it back).
std::size_t UdpReceives::payloadBatchSize(std::size_t most) const
{
    const std::size_t payload = stream_.payloadPerPacket_;
    const std::size_t remaining = stream_.remaining_;
    if (payload == 0 || stream_.activeData_ == nullptr || remaining < UdpStream::MIN_BUFFER_ROOM ||
        payload > UdpStream::MAX_DATAGRAM - wire::kStreamHeaderSize)
        return 0;
    const std::size_t count = std::min({std::size_t{stream_.imageLength_ - stream_.received_} / payload,
                                        remaining / payload, (remaining - UdpStream::MIN_BUFFER_ROOM) / payload + 1});
    return std::min(count, most);
}

// Several payload packets in one call, each received at the place it takes if the image goes on
// as it has so far: its header and any excess in a slot of its own, its data at the active
// position plus its index times the packet's payload. The packets are taken in order while they
// are exactly that; from the first that is not, it and every later one are put back together in
// their slots before anything is written to the host buffer, and handled as any other datagram.
bool UdpReceives::readPayloadBatch(std::size_t count)
{
    const std::size_t header = wire::kStreamHeaderSize;
    const std::size_t payload = stream_.payloadPerPacket_;
    const std::size_t excess = UdpStream::MAX_DATAGRAM - header - payload;
    if (batchSlots_.empty())
        batchSlots_.resize(UdpStream::PAYLOAD_BATCH * UdpStream::MAX_DATAGRAM);
    std::array<mmsghdr, UdpStream::PAYLOAD_BATCH> headers{};
    std::array<std::array<iovec, 3>, UdpStream::PAYLOAD_BATCH> pieces{};
    std::array<sockaddr_in, UdpStream::PAYLOAD_BATCH> sources{};
    uint8_t* const base = stream_.activeData_;
    for (std::size_t i = 0; i < count; ++i) {
        uint8_t* slot = batchSlots_.data() + i * UdpStream::MAX_DATAGRAM;
        pieces[i] = {{{slot, header}, {base + i * payload, payload}, {slot + header, excess}}};
        headers[i].msg_hdr.msg_iov = pieces[i].data();
        headers[i].msg_hdr.msg_iovlen = pieces[i].size();
        headers[i].msg_hdr.msg_name = &sources[i];
        headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    const int got = platform::retried(
        [&] { return recvmmsg(stream_.socket_.get()->fd(), headers.data(), unsigned(count), MSG_DONTWAIT, nullptr); });
    if (got <= 0) {
        if (got < 0)
            noteReceiveError(errno);
        return false;
    }
    bool inOrder = true;
    for (std::size_t i = 0; i < std::size_t(got); ++i) {
        const std::size_t size = headers[i].msg_len;
        uint8_t* slot = batchSlots_.data() + i * UdpStream::MAX_DATAGRAM;
        const bool fromCamera =
            (headers[i].msg_hdr.msg_flags & MSG_TRUNC) == 0 && sources[i].sin_addr.s_addr == stream_.cameraAddress();
        if (inOrder && fromCamera && size == header + payload && stream_.payloadFault({slot, header}, size).empty()) {
            stream_.takePayload(payload, {});
            continue;
        }
        if (inOrder) {
            inOrder = false;
            for (std::size_t j = i; j < std::size_t(got); ++j)
                reassemble(batchSlots_.data() + j * UdpStream::MAX_DATAGRAM, base + j * payload, headers[j].msg_len,
                           payload);
        }
        if (fromCamera)
            stream_.handleDatagram({slot, size});
        else
            HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a foreign or oversized datagram", "UdpStream::readDatagrams",
                      stream_.where());
    }
    return true;
}

// Puts a datagram received as header and excess in `slot` and data at `placed` back together in
// the slot: the excess moves up behind the data.
void UdpReceives::reassemble(uint8_t* slot, const uint8_t* placed, std::size_t size, std::size_t room)
{
    const std::size_t header = wire::kStreamHeaderSize;
    if (size <= header)
        return;
    const std::size_t inPlace = std::min(size - header, room);
    std::memmove(slot + header + inPlace, slot + header, size - header - inPlace);
    std::memcpy(slot + header, placed, inPlace);
}

// The packet's header lands in the bounce buffer, its data at the active position as far as
// the buffer has room, the rest after the header in the bounce buffer: never more than one
// datagram's worth, never past the buffer's end. A packet that turns out not to continue the
// image is put back together in the bounce buffer's second half and handled as any other.
bool UdpReceives::readOneIntoHostBuffer()
{
    const std::size_t header = wire::kStreamHeaderSize;
    const std::size_t room = std::min(stream_.remaining_, UdpStream::MAX_DATAGRAM - header);
    std::array<iovec, 3> pieces{{{stream_.bounce_.data(), header},
                                 {stream_.activeData_, room},
                                 {stream_.bounce_.data() + header, UdpStream::MAX_DATAGRAM - header - room}}};
    sockaddr_in source{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof(source);
    message.msg_iov = pieces.data();
    message.msg_iovlen = pieces.size();
    const ssize_t length =
        platform::retried([&] { return recvmsg(stream_.socket_.get()->fd(), &message, MSG_DONTWAIT); });
    if (length < 0) {
        noteReceiveError(errno);
        return false;
    }
    if ((message.msg_flags & MSG_TRUNC) != 0 || source.sin_addr.s_addr != stream_.cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a foreign or oversized datagram", "UdpStream::readDatagrams",
                  stream_.where());
        return true;
    }
    stream_.acceptScattered(std::size_t(length), room);
    return true;
}

void UdpReceives::noteReceiveError(int error)
{
    if (error != EAGAIN && error != EWOULDBLOCK)
        HLV_LOG("%s(%s): failed to read the UDP stream socket.\n%s", "UdpStream::readDatagrams", stream_.where(),
                platform::errnoIndicates(error).c_str());
}

void UdpReceives::acceptDatagram(const mmsghdr& header, const iovec& piece, const sockaddr_in& source)
{
    if ((header.msg_hdr.msg_flags & MSG_TRUNC) != 0) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped an oversized datagram", "UdpStream::readDatagrams", stream_.where());
        return;
    }
    if (source.sin_addr.s_addr != stream_.cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a datagram from another address", "UdpStream::readDatagrams",
                  stream_.where());
        return;
    }
    stream_.handleDatagram({static_cast<const uint8_t*>(piece.iov_base), header.msg_len});
}

// Everything the socket holds next, coalesced or not, into one buffer and on to the parser.
bool UdpReceives::readCoalesced()
{
    const std::array<std::span<uint8_t>, 1> pieces{{{coalescedWhole_.data(), coalescedWhole_.size()}}};
    Receipt receipt;
    if (!receiveCoalesced(pieces, receipt))
        return false;
    if (receipt.usable)
        handleDatagramsFrom(0, CoalescedDatagrams(receipt.length, receipt.segment, UdpStream::MAX_DATAGRAM),
                            ScatteredBytes(pieces, receipt.length));
    return true;
}

// A coalesced receive laid out as the image goes on if it holds the image's next payload packets:
// each packet's header in a slot of its own, its data at the active position plus its index times
// the packet's payload, as many as the buffer and the image take; whatever follows lands in the
// tail. The packets are taken in order while they are exactly that; from the first that is not,
// the rest is put back together before anything is written to the host buffer, and handled as
// any other datagrams.
bool UdpReceives::readCoalescedIntoHostBuffer()
{
    const std::size_t header = wire::kStreamHeaderSize;
    const std::size_t payload = stream_.payloadPerPacket_;
    const std::size_t packet = header + payload;
    const std::size_t placed =
        payloadBatchSize(std::min(CoalescedDatagrams::MAX_SEGMENTS, CoalescedDatagrams::MAX_RECEIVE / packet));
    std::array<uint8_t, wire::kStreamHeaderSize * CoalescedDatagrams::MAX_SEGMENTS> headers{};
    std::array<std::span<uint8_t>, MAX_PIECES> pieces{};
    std::size_t used = 0;
    for (std::size_t i = 0; i < placed; ++i) {
        pieces[used++] = {headers.data() + i * header, header};
        pieces[used++] = {stream_.activeData_ + i * payload, payload};
    }
    pieces[used++] = {coalescedTail_.data(), coalescedTail_.size()};
    const std::span<const std::span<uint8_t>> layout(pieces.data(), used);
    Receipt receipt;
    if (!receiveCoalesced(layout, receipt))
        return false;
    if (!receipt.usable)
        return true;
    const CoalescedDatagrams datagrams(receipt.length, receipt.segment, UdpStream::MAX_DATAGRAM);
    std::size_t taken = 0;
    if (datagrams.segmentSize() == packet) {
        const std::size_t inPlace = std::min(placed, datagrams.count());
        while (taken < inPlace && datagrams.length(taken) == packet &&
               stream_.payloadFault({headers.data() + taken * header, header}, packet).empty()) {
            stream_.takePayload(payload, {});
            ++taken;
        }
    }
    handleDatagramsFrom(taken, datagrams, ScatteredBytes(layout, receipt.length));
    return true;
}

// The datagrams from `first` on, each to the parser. Read where they lie when the receive put
// them in one piece, else put back together first: the parser writes to the host buffer, where
// some of them may lie.
void UdpReceives::handleDatagramsFrom(std::size_t first, const CoalescedDatagrams& datagrams,
                                      const ScatteredBytes& bytes)
{
    const std::size_t count = datagrams.count();
    if (first >= count)
        return;
    const std::size_t from = datagrams.offset(first);
    const std::size_t length = datagrams.offset(count - 1) + datagrams.length(count - 1) - from;
    std::span<const uint8_t> rest = bytes.contiguous(from, length);
    if (rest.empty())
        rest = {coalescedWhole_.data(), bytes.copyOut(from, coalescedWhole_)};
    for (std::size_t i = first; i < count; ++i)
        stream_.handleDatagram(datagrams.datagram(rest, from, i));
}

// One receive into `pieces`, with the segment size the system coalesced the datagrams at; false
// when nothing waited. A receive cut short or from another address is dropped and not usable.
bool UdpReceives::receiveCoalesced(std::span<const std::span<uint8_t>> pieces, Receipt& receipt)
{
    std::array<iovec, MAX_PIECES> vectors{};
    const std::size_t used = std::min(pieces.size(), vectors.size());
    for (std::size_t i = 0; i < used; ++i)
        vectors[i] = {pieces[i].data(), pieces[i].size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    sockaddr_in source{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof(source);
    message.msg_iov = vectors.data();
    message.msg_iovlen = used;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t length =
        platform::retried([&] { return recvmsg(stream_.socket_.get()->fd(), &message, MSG_DONTWAIT); });
    if (length < 0) {
        noteReceiveError(errno);
        return false;
    }
    receipt.length = std::size_t(length);
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        int segment = 0;
        if (item->cmsg_level == SOL_UDP && item->cmsg_type == UDP_GRO && item->cmsg_len >= CMSG_LEN(sizeof(segment))) {
            std::memcpy(&segment, CMSG_DATA(item), sizeof(segment));
            receipt.segment = segment > 0 ? std::size_t(segment) : 0;
        }
    }
    if ((message.msg_flags & MSG_TRUNC) != 0 || source.sin_addr.s_addr != stream_.cameraAddress()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a foreign or oversized receive of %zu bytes",
                  "UdpStream::readDatagrams", stream_.where(), receipt.length);
        return true;
    }
    const CoalescedDatagrams datagrams(receipt.length, receipt.segment, UdpStream::MAX_DATAGRAM);
    if (const char* fault = datagrams.fault(); fault != nullptr) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a receive of %zu bytes in segments of %zu: %s",
                  "UdpStream::readDatagrams", stream_.where(), receipt.length, receipt.segment, fault);
        return true;
    }
    receipt.usable = true;
    return true;
}

} // namespace halvex::stream
