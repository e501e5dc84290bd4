// The TCP image receiver: one connection to a camera, parsed into leader, payload and trailer,
// with the payload received straight into the host's buffers.
#include "stream/tcp_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "callback/callback.h"
#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"

namespace halvex::stream {

using callback::isStreamKind;
using callback::StreamControlRequest;
using control::RegisterChannel;

using thread::TRACE_STREAM;
namespace ids = message_ids;

namespace {

// Reader steps between looks at the message queue and the socket's readiness.
constexpr unsigned MAX_STEPS_PER_PASS = 4096;

// A cheap look at the fixed fields of a leader, so the scan decodes only likely candidates.
bool looksLikeLeader(const uint8_t* bytes)
{
    return bytes[4] == wire::packet_format::kLeader && bytes[8] == (wire::kLeaderMagic >> 8) &&
           bytes[9] == (wire::kLeaderMagic & 0xFF) && bytes[10] == 0 && bytes[11] == wire::kFilePayloadType;
}

} // namespace

// The connection and the parser share the receiver's label, registers and message wake.
TcpStream::TcpStream(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers, uint16_t port,
                     uint16_t cameraPort)
    : StreamReceiver(cameraAddress, std::move(registers), "TcpStream", "TCP Stream"),
      connection_(label(), StreamReceiver::registers(), *postWake(), port, cameraPort,
                  {[this](uint16_t localPort) { setLocalPort(localPort); }, [this] { forgetConnection(); }})
{
}

TcpStream::~TcpStream()
{
    thread::closeThread(*this);
}

bool TcpStream::startUp()
{
    if (!connection_.open())
        return false;
    pieceCount_ = 0;
    announcePacketSize();
    setConnected(true);
    return true;
}

void TcpStream::shutDown()
{
    connection_.close();
}

// A pass cut short by a waiting message or its step limit may leave the end of an image among
// the kept bytes after the camera has sent its last byte.
void TcpStream::waitAndRead()
{
    if (connection_.reopenScheduled()) {
        connection_.waitForReopen();
        return;
    }
    if (holdForBuffer())
        return;
    if (!connection_.connectPending() && keptBytesReadable()) {
        readStream();
        return;
    }
    if (connection_.waitForStream())
        readStream();
}

void TcpStream::forgetConnection()
{
    pending_.clear();
    if (state_ != RECOVER && protocol_ != message_ids::INTERNAL_START)
        goToRecovery();
}

bool TcpStream::isRecovering() const
{
    return state_ == RECOVER;
}

uint16_t TcpStream::port() const
{
    return connected() ? connection_.port() : uint16_t{0};
}

uint32_t TcpStream::handleControl(const StreamControlRequest& control)
{
    switch (control.command) {
    case StreamControlRequest::ENABLE_PARSER:
        HLV_TRACE(TRACE_STREAM, "%s(%s): TcpStream ENABLE_PARSER (%d) received. current_state=%u, protocol=%u",
                  "TcpStream::handleControl", where(), control.flag, state_.load(), control.protocol);
        if (control.flag == 0) {
            state_ = RECOVER;
            pieceCount_ = 0;
            protocol_ = ids::INTERNAL_START;
            return thread::MESSAGE_DONE;
        }
        if (!isStreamKind(control.protocol)) {
            HLV_LOG("%s(%s): Unknown stream type [%d]", "TcpStream::handleControl", where(),
                    static_cast<int>(control.protocol));
            return thread::MESSAGE_FAILED;
        }
        state_ = LEADER;
        pieceCount_ = 0;
        discardPackets_ = false;
        protocol_ = control.protocol;
        return thread::MESSAGE_DONE;
    case StreamControlRequest::SHUTDOWN:
        HLV_TRACE(TRACE_STREAM, "%s(%s): TcpStream SHUTDOWN received, current_state=%u", "TcpStream::handleControl",
                  where(), state_.load());
        goToRecovery();
        releaseBuffers(ALL_QUEUES, RELEASED_STATUS);
        return thread::MESSAGE_DONE;
    default:
        HLV_LOG("%s(%s): Unknown command: %d.", "TcpStream::handleControl", where(), static_cast<int>(control.command));
        return thread::MESSAGE_FAILED;
    }
}

void TcpStream::abandonImage()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): Shutdown for TcpStream, current state is %u", "TcpStream::handleStop", where(),
              state_.load());
    goToRecovery();
}

void TcpStream::readStream()
{
    for (unsigned step = 0; step < MAX_STEPS_PER_PASS && !messagesWaiting(); ++step) {
        if (!readStep())
            return;
    }
}

// Kept bytes a read step can use without the socket: in the scan only a leader's worth.
bool TcpStream::keptBytesReadable() const
{
    const std::size_t kept = pending_.size();
    return state_ == SCAN ? kept >= wire::kStreamLeaderSize : kept != 0;
}

bool TcpStream::readStep()
{
    switch (state_) {
    case LEADER: return readLeader();
    case PAYLOAD: return readPayload();
    case TRAILER: return readTrailer();
    case RECOVER:
        discardPackets_ = true;
        state_ = SCAN;
        return true;
    default: return recoverScan();
    }
}

// An image that has no buffer stays in the socket, so TCP's flow control holds the camera back
// instead of the image being lost; until a buffer is lent (or the stream is stopped, which the
// download watchdog does when the host lends nothing for too long) only the message queue is
// waited on. True when it waited.
bool TcpStream::holdForBuffer()
{
    if (state_ != PAYLOAD || activeData_ != nullptr || acquireBuffer())
        return false;
    connection_.waitForWake(std::nullopt);
    return true;
}

void TcpStream::goToRecovery()
{
    pieceCount_ = 0;
    state_ = RECOVER;
}

void TcpStream::startImage(uint32_t imageLength)
{
    imageLength_ = imageLength;
    imageReceived_ = 0;
    pieceCount_ = 0;
    imageStatus_ = HX_STREAM_STATUS_LEADER;
    state_ = PAYLOAD;
}

bool TcpStream::readLeader()
{
    const char* who = "TcpStream::readLeader";
    if (pieceCount_ >= leader_.size()) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): current_image_len is too big: %zu", who, where(), pieceCount_);
        pieceCount_ = 0;
    }
    const PieceRead read = readPiece(leader_, who, "No data?! Is socket closed?");
    if (read != PieceRead::Whole)
        return read == PieceRead::Partial;
    const uint32_t imageLength = checkLeader(leader_);
    if (imageLength == 0) {
        // The leader may sit a few bytes further on: let the scan look at these bytes again.
        HLV_TRACE(TRACE_STREAM, "%s(%s): failed!! Entering recovery...", who, where());
        pending_.putBack(std::span<const uint8_t>(leader_).subspan(1));
        state_ = SCAN;
        return true;
    }
    startImage(imageLength);
    return true;
}

TcpStream::PieceRead TcpStream::readPiece(std::span<uint8_t> piece, const char* who, const char* closedText)
{
    std::size_t got = 0;
    const ReadResult result = readBytes(piece.data() + pieceCount_, piece.size() - pieceCount_, got);
    if (result == ReadResult::Nothing)
        return PieceRead::NoData;
    if (result == ReadResult::Closed) {
        HLV_LOG("%s(%s): %s", who, where(), closedText);
        connection_.lose();
        return PieceRead::NoData;
    }
    pieceCount_ += got;
    if (pieceCount_ < piece.size())
        return PieceRead::Partial;
    pieceCount_ = 0;
    return PieceRead::Whole;
}

uint32_t TcpStream::checkLeader(std::span<const uint8_t> bytes)
{
    const char* who = "TcpStream::checkLeader";
    const std::optional<wire::StreamLeader> leader = wire::decodeStreamLeader(bytes);
    if (!leader)
        return 0;
    if (leader->header.packetFormat == wire::packet_format::kLeader) {
        blockId_ = leader->header.blockId;
        packetId_ = leader->header.packetId;
    }
    const wire::LeaderCheck check = wire::checkStreamLeader(*leader, true);
    if (check != wire::LeaderCheck::Ok || leader->imageLength == 0) {
        logLeaderFault(check, *leader);
        return 0;
    }
    seqNumber_ = *wire::sequenceNumberOf(*leader);
    HLV_TRACE(TRACE_STREAM, "%s(%s): Got leader for frame %u", who, where(), seqNumber_);
    // Without a buffer the image waits in the socket until one is lent (see holdForBuffer).
    if (!acquireBuffer())
        HLV_LOG("%s(%s): Unable to acquire a buffer!", who, where());
    else if (remaining_ < leader->imageLength)
        HLV_LOG("%s(%s): The buffer size isn't big enough! Image size is %u bytes", who, where(), leader->imageLength);
    return leader->imageLength;
}

// Malformed leaders are reported once until a good one arrives; an impossible size always.
void TcpStream::logLeaderFault(wire::LeaderCheck check, const wire::StreamLeader& leader)
{
    const char* who = "TcpStream::checkLeader";
    const bool quiet = leaderError_;
    leaderError_ = true;
    switch (check) {
    case wire::LeaderCheck::WrongFormat:
        if (!quiet)
            HLV_LOG("%s(%s): Malformed packet: wrong pkt_fmt = 0x%02X", who, where(), leader.header.packetFormat);
        break;
    case wire::LeaderCheck::WrongMagic:
        if (!quiet)
            HLV_LOG("%s(%s): Wrong MAGIC ID = 0x%04X", who, where(), leader.magic);
        break;
    case wire::LeaderCheck::WrongPayloadType:
        if (!quiet)
            HLV_LOG("%s(%s): Wrong PAYLOAD type = %u", who, where(), leader.payloadType);
        break;
    case wire::LeaderCheck::ImageTooLarge:
    case wire::LeaderCheck::Ok:
        HLV_LOG("%s(%s): Bad PAYLOAD size = %d/0x%x", who, where(), static_cast<int>(leader.imageLength),
                leader.imageLength);
        break;
    case wire::LeaderCheck::BadFileName:
        leaderError_ = quiet;
        HLV_LOG("%s(%s): Unable to parse the filename for the sequence number: '%s'", who, where(),
                leader.fileName.c_str());
        break;
    }
}

bool TcpStream::readPayload()
{
    const char* who = "TcpStream::readPayload";
    if (activeData_ == nullptr && !acquireBuffer())
        return false; // the bytes stay in the socket until a buffer is lent
    const std::size_t want = std::min<std::size_t>(imageLength_ - imageReceived_, remaining_);
    std::size_t got = 0;
    const ReadResult result = readBytes(activeData_, want, got);
    if (result == ReadResult::Nothing)
        return false;
    if (result == ReadResult::Closed) {
        HLV_LOG("%s(%s): Unexpectedly read [0] bytes! Did the connection close?", who, where());
        connection_.lose();
        return false;
    }
    activeData_ += got;
    remaining_ -= got;
    imageReceived_ += static_cast<uint32_t>(got);
    noteImageData();
    HLV_TRACE(TRACE_STREAM, "%s(%s): bytes_read = %zu/%u/%u", who, where(), got, imageReceived_, imageLength_);
    if (imageReceived_ == imageLength_) {
        state_ = TRAILER;
        pieceCount_ = 0;
    } else if (remaining_ == 0) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Buffer full. Get the next.", who, where());
        handBack(imageReceived_);
        nextBufferOrNone();
    }
    return true;
}

// Without a buffer the rest of the image waits in the socket for the next buffer lent.
void TcpStream::nextBufferOrNone()
{
    if (acquireBuffer())
        return;
    HLV_TRACE(TRACE_STREAM, "%s(%s): >>>>> Out of buffers! Client is not keeping up! <<<<<<", "TcpStream::readPayload",
              where());
    if (protocol_ == ids::DOWNLOAD_STREAM_MSG && seqNumber_ != 0xFFFFFFFF && totalQueuedBufferSpace() != 0)
        HLV_THROW(thread::LogicError, "total_queued_buffer_space is %zu; should be zero", totalQueuedBufferSpace());
}

bool TcpStream::readTrailer()
{
    const char* who = "TcpStream::readTrailer";
    HLV_TRACE(TRACE_STREAM, "%s(%s): , discard_packets=%d", who, where(), discardPackets_ ? 1 : 0);
    const PieceRead read = readPiece(trailer_, who, "No data?!");
    if (read != PieceRead::Whole)
        return read == PieceRead::Partial;
    state_ = LEADER;
    if (checkTrailer() != 0) {
        // The buffer stays at the front of its queue and takes the next image.
        HLV_TRACE(TRACE_STREAM, "%s(%s): failed!! Entering recovery...", who, where());
        state_ = SCAN;
        return true;
    }
    if (discardPackets_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): discarding packets", who, where());
        return true;
    }
    HLV_TRACE(TRACE_STREAM, "%s(%s): seq_number=%u", "TcpStream::handleImageReceived", where(), seqNumber_);
    imageStatus_ |= HX_STREAM_STATUS_COMPLETE;
    handBack(imageReceived_);
    return true;
}

uint32_t TcpStream::checkTrailer()
{
    const char* who = "TcpStream::readTrailer";
    const wire::StreamTrailer trailer = *wire::decodeStreamTrailer(trailer_);
    const uint32_t expectedId = wire::nextPacketId(packetId_);
    const uint32_t faults = wire::checkStreamTrailer(trailer, blockId_, expectedId);
    if (faults & wire::trailer_fault::kWrongFormat)
        HLV_LOG("%s(%s): Pkt Format mismatch (0x%x != 0x%x)", who, where(), trailer.header.packetFormat,
                wire::packet_format::kTrailer);
    if (faults & wire::trailer_fault::kBlockIdMismatch)
        HLV_LOG("%s(%s): Block ID mismatch (0x%x != 0x%x)", who, where(), trailer.header.blockId, blockId_);
    if (faults & wire::trailer_fault::kPacketIdMismatch)
        HLV_LOG("%s(%s): Packet ID mismatch (%u != %u + 1)", who, where(), trailer.header.packetId, packetId_);
    else
        packetId_ = trailer.header.packetId;
    if (faults & wire::trailer_fault::kWrongPayloadType)
        HLV_LOG("%s(%s): Wrong PAYLOAD type = 0x%x", who, where(), trailer.payloadType);
    if (faults != 0)
        imageStatus_ |= HX_STREAM_STATUS_ERROR;
    return faults;
}

// Looks for the next leader among the stream bytes. Only windows of a whole leader are tested,
// so nothing is read past the bytes received; the last bytes that could begin a leader are kept
// for the next scan. Bytes after a leader found stay pending and are parsed as its payload.
bool TcpStream::recoverScan()
{
    const char* who = "TcpStream::recoverScan";
    if (!fillScanWindow())
        return false;
    const std::span<const uint8_t> window = pending_.window();
    const std::size_t have = window.size();
    for (std::size_t offset = 0; offset + wire::kStreamLeaderSize <= have; ++offset) {
        const uint8_t* candidate = window.data() + offset;
        if (!looksLikeLeader(candidate) && (offset != 0 || leaderError_))
            continue;
        const uint32_t imageLength = checkLeader({candidate, wire::kStreamLeaderSize});
        if (imageLength == 0)
            continue;
        HLV_TRACE(TRACE_STREAM, "%s(%s): - found leader!", who, where());
        std::memcpy(leader_.data(), candidate, leader_.size());
        pending_.consumeTo(offset + wire::kStreamLeaderSize);
        if (pending_.size() != 0)
            HLV_TRACE(TRACE_STREAM, "%s(%s): Copying %zu payload bytes", who, where(), pending_.size());
        leaderError_ = false;
        discardPackets_ = false;
        startImage(imageLength);
        return true;
    }
    const std::size_t keep = std::min(have, TcpPendingBytes::KEPT_FOR_NEXT_SCAN);
    pending_.consumeTo(have - keep);
    HLV_TRACE(TRACE_STREAM, "%s(%s): Saving %zu bytes for next go-around.", who, where(), keep);
    return true;
}

// Reads the socket's bytes after those pending; false when there is not a leader's worth to look
// at (or the connection closed).
bool TcpStream::fillScanWindow()
{
    const std::span<uint8_t> room = pending_.compactForScan();
    if (room.empty())
        return true;
    std::size_t got = 0;
    const ReadResult result = receive(room.data(), room.size(), got);
    if (result == ReadResult::Closed) {
        connection_.lose();
        return false;
    }
    pending_.filled(got);
    return pending_.size() >= wire::kStreamLeaderSize;
}

void TcpStream::announcePacketSize()
{
    auto request = std::make_unique<callback::CallbackRequest>(HX_STREAM_NEGOTIATION, cameraAddress());
    request->attach<int32_t>(static_cast<int32_t>(PACKET_SIZE));
    callback::Callback::postOwned(std::move(request));
}

TcpStream::ReadResult TcpStream::readBytes(uint8_t* into, std::size_t want, std::size_t& got)
{
    if (pending_.size() == 0)
        return receive(into, want, got);
    got = pending_.take(into, want);
    return ReadResult::Data;
}

// The connection's own reads; a test or fuzz driver replaces them to feed the parser itself.
TcpStream::ReadResult TcpStream::receive(uint8_t* into, std::size_t want, std::size_t& got)
{
    return connection_.receive(into, want, got);
}

} // namespace halvex::stream
