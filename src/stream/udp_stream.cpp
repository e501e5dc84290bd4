// The UDP image receiver: reads the camera's stream socket one datagram at a time into a bounce
// buffer, copies each image's payload into the host's buffers, and negotiates the packet size.
#include "stream/udp_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "stream/udp_channel_handover.h"
#include "stream/udp_negotiation.h"

namespace halvex::stream {

using callback::isStreamKind;
using callback::StreamControlRequest;
using control::HxComm;
using control::RegisterChannel;
using thread::fmtToString;

using thread::TRACE_STREAM;
namespace ids = message_ids;

namespace {

// Receive calls in one pass before the queue and the socket are looked at again.
constexpr unsigned MAX_CALLS_PER_PASS = 1024;

bool isLeaderDatagram(std::span<const uint8_t> datagram)
{
    return datagram.size() >= wire::kMinStreamLeaderSize && datagram[4] == wire::packet_format::kLeader;
}

} // namespace

uint32_t UdpStream::negotiatedPacketSize() const
{
    return negotiation_.negotiatedSize();
}

uint32_t UdpStream::state() const
{
    return state_;
}

// While a negotiation runs the state stays on the test packet; parser requests only choose the
// queue, and the state they ask for is taken when the negotiation ends.
uint32_t UdpStream::handleControl(const StreamControlRequest& control)
{
    const char* who = "UdpStream::handleControl";
    const bool negotiating = state_ == TEST_PACKET;
    switch (control.command) {
    case StreamControlRequest::ENABLE_PARSER:
        HLV_TRACE(TRACE_STREAM, "%s(%s): UdpStream ENABLE_PARSER (%d) received. current_state=%u, protocol=%u", who,
                  where(), control.flag, state_.load(), control.protocol);
        if (control.flag != 0 && !isStreamKind(control.protocol)) {
            HLV_LOG("%s(%s): Unknown stream type [%d]", who, where(), static_cast<int>(control.protocol));
            return thread::MESSAGE_FAILED;
        }
        protocol_ = control.flag != 0 ? control.protocol : ids::INTERNAL_START;
        if (protocol_ == ids::DOWNLOAD_STREAM_MSG)
            sequence_.restart(LeaderSequence::Kind::Download, downloadThrottle().firstFrame(),
                              downloadThrottle().lastFrame());
        else
            sequence_.restart(protocol_ == ids::LIVE_STREAM_MSG ? LeaderSequence::Kind::Live
                                                                : LeaderSequence::Kind::Other);
        pace_.restart();
        if (!negotiating)
            state_ = control.flag != 0 ? LEADER : IDLE;
        return thread::MESSAGE_DONE;
    case StreamControlRequest::SHUTDOWN:
        HLV_TRACE(TRACE_STREAM, "%s(%s): UdpStream SHUTDOWN received, current_state%u", who, where(), state_.load());
        if (!negotiating)
            state_ = IDLE;
        releaseBuffers(ALL_QUEUES, RELEASED_STATUS);
        return thread::MESSAGE_DONE;
    case StreamControlRequest::TEST_PACKET:
        HLV_TRACE(TRACE_STREAM, "%s(%s): TEST_PACKET state set.", who, where());
        state_ = TEST_PACKET;
        negotiation_.begin();
        return thread::MESSAGE_DONE;
    default:
        HLV_LOG("%s(%s): Unknown command: %d.", who, where(), static_cast<int>(control.command));
        return thread::MESSAGE_FAILED;
    }
}

void UdpStream::abandonImage()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): Shutdown for UdpStream, current state is %u", "UdpStream::handleStop", where(),
              state_.load());
    if (state_ == PAYLOAD || state_ == TRAILER)
        state_ = LEADER;
}

// A channel handover moves the receiver to a returned camera's stream socket; the parser is left
// as it is (an image the old socket left unfinished ends as one whose end was lost, when the first
// leader comes through the new socket). Only this receiver's own trial time-outs speak the
// negotiation's identifier; any other message that carries it would otherwise pass for a test
// packet and end a negotiation, or repeat one.
void UdpStream::handleOther(thread::Message& message)
{
    if (auto* handover =
            message.req == udp::ChannelHandover::ID ? dynamic_cast<udp::ChannelHandover*>(&message) : nullptr) {
        const uint16_t before = socket_.port();
        if (socket_.takeUp(std::move(handover->channel), *postWake())) {
            setLocalPort(socket_.port());
            HLV_LOG("%s(%s): The camera's new control channel brings its stream to this port (port %u before).",
                    "UdpStream::sockInit", where(), static_cast<unsigned>(before));
            receives_.chooseReceive();
        }
        finish(&message, thread::MESSAGE_DONE);
        return;
    }
    const auto* timeout =
        message.req == udp::NegotiateMessage::ID ? dynamic_cast<const udp::NegotiateMessage*>(&message) : nullptr;
    if (timeout == nullptr || timeout->owner != this || timeout->timeout == 0) {
        HLV_LOG("%s(%s): Unrecognized message type [%d]", "UdpStream::messageHandle", where(),
                static_cast<int>(message.req));
        finish(&message, thread::MESSAGE_FAILED);
        return;
    }
    try {
        negotiation_.timedOut(timeout->packetSize, state_ == TEST_PACKET);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", "UdpStream::handleNegotiateMsg", where(), error.str().c_str());
    }
    finish(&message, thread::MESSAGE_DONE);
}

void UdpStream::handleDatagram(std::span<const uint8_t> datagram)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): current_state=%u", "UdpStream::streamReader", where(), state_.load());
    // Whatever comes first while a leader is awaited starts the next frame, its leader or, when that
    // was lost, its first packet.
    notePace(state_ == LEADER || isLeaderDatagram(datagram));
    switch (state_) {
    case TEST_PACKET: negotiation_.testPacket(datagram.size()); return;
    case LEADER: recvLeader(datagram); return;
    case PAYLOAD:
        // A leader arriving early means the image's end was lost: the next image starts here.
        if (!recvPayload(datagram) && isLeaderDatagram(datagram))
            recvLeader(datagram);
        return;
    case TRAILER:
        recvTrailer(datagram);
        if (isLeaderDatagram(datagram))
            recvLeader(datagram);
        return;
    case IDLE:
        HLV_TRACE(TRACE_STREAM, "%s(%s): (TS_IDLE) throw away %zu [0x%zx] bytes", "UdpStream::streamReader", where(),
                  datagram.size(), datagram.size());
        return;
    default:
        HLV_LOG("%s(%s): Unexpected state (%u), throw away %zu [0x%zx] bytes", "UdpStream::streamReader", where(),
                state_.load(), datagram.size(), datagram.size());
        return;
    }
}

void UdpStream::recvLeader(std::span<const uint8_t> datagram)
{
    const char* who = "UdpStream::recvLeader";
    if (datagram.size() < wire::kMinStreamLeaderSize) {
        if (!leaderError_)
            HLV_LOG("%s(%s): Unable to read full file leader, len = %zu [0x%zx]", who, where(), datagram.size(),
                    datagram.size());
        leaderError_ = true;
        return;
    }
    const wire::StreamLeader leader = *wire::decodeStreamLeader(datagram);
    if (leader.header.packetFormat == wire::packet_format::kLeader) {
        blockId_ = leader.header.blockId;
        packetId_ = leader.header.packetId;
    }
    const wire::LeaderCheck check = wire::checkStreamLeader(leader, false);
    if (check != wire::LeaderCheck::Ok || leader.imageLength == 0) {
        logLeaderFault(check, leader);
        return;
    }
    seqNumber_ = *wire::sequenceNumberOf(leader);
    HLV_TRACE(TRACE_STREAM, "%s(%s): Got leader for frame %u", who, where(), seqNumber_);
    // Judged before a buffer is taken, so that images lost for want of one still count.
    const std::string misfit = sequence_.admit(leader.header.blockId, seqNumber_);
    // A host that lends no buffers for a while loses many images: one line when the run starts,
    // and how many it lost when it ends. The lost image's packets are passed over quietly.
    if (!acquireBuffer()) {
        if (imagesWithoutBuffer_++ == 0)
            HLV_LOG("%s(%s): Unable to acquire a buffer!", who, where());
        leaderError_ = true;
        return;
    }
    if (imagesWithoutBuffer_ != 0) {
        HLV_LOG("%s(%s): images lost while no buffer was lent: %u", who, where(), imagesWithoutBuffer_);
        imagesWithoutBuffer_ = 0;
    }
    imageLength_ = leader.imageLength;
    received_ = 0;
    imageStatus_ = HX_STREAM_STATUS_LEADER;
    leaderError_ = false;
    leaderMisfit_ = !misfit.empty();
    if (leaderMisfit_)
        HLV_LOG("%s(%s): Leader out of sequence, the image is returned in error: %s", who, where(), misfit.c_str());
    state_ = PAYLOAD;
}

// Reported once until a good leader arrives: payload packets of an image whose leader was
// missed would otherwise each add a line.
void UdpStream::logLeaderFault(wire::LeaderCheck check, const wire::StreamLeader& leader)
{
    const char* who = "UdpStream::recvLeader";
    const bool quiet = leaderError_;
    leaderError_ = true;
    if (quiet)
        return;
    if (check == wire::LeaderCheck::WrongFormat)
        HLV_LOG("%s(%s): Malformed packet: wrong pkt_fmt = %u [0x%x]", who, where(), leader.header.packetFormat,
                leader.header.packetFormat);
    else if (check == wire::LeaderCheck::WrongPayloadType)
        HLV_LOG("%s(%s): Wrong PAYLOAD type = %u [0x%x]", who, where(), leader.payloadType, leader.payloadType);
    else if (check == wire::LeaderCheck::BadFileName)
        HLV_LOG("%s(%s): Unable to parse the filename for the sequence number: '%s'", who, where(),
                leader.fileName.c_str());
    else
        HLV_LOG("%s(%s): Wrong PAYLOAD size = 0x%x", who, where(), leader.imageLength);
}

bool UdpStream::recvPayload(std::span<const uint8_t> datagram)
{
    const std::string fault =
        payloadFault(datagram.first(std::min(datagram.size(), wire::kStreamHeaderSize)), datagram.size());
    if (!fault.empty()) {
        payloadError(fault.c_str());
        return false;
    }
    takePayload(0, datagram.subspan(wire::kStreamHeaderSize));
    return true;
}

// Why a packet does not continue the image in progress; empty when it does (and then its packet
// id is taken). `head` holds the packet's first bytes, `length` is its whole length.
std::string UdpStream::payloadFault(std::span<const uint8_t> head, std::size_t length)
{
    const char* who = "UdpStream::recvPayload";
    if (activeData_ == nullptr)
        return fmtToString("%s(%s): Null active_data_ptr!", who, where());
    const std::optional<wire::StreamHeader> header = wire::decodeStreamHeader(head);
    if (!header)
        return fmtToString("%s(%s): Unable to read full packet header, len = %zu [0x%zx]", who, where(), length,
                           length);
    if (header->packetFormat != wire::packet_format::kPayload)
        return fmtToString("%s(%s): !!Out of sync. Got fmt=0x%x, but expecting PAYLOAD!!", who, where(),
                           header->packetFormat);
    if (header->blockId != blockId_)
        return fmtToString("%s(%s): !!Block ID mismatch (0x%x != 0x%x)!!", who, where(), header->blockId, blockId_);
    if (header->packetId != wire::nextPacketId(packetId_))
        return fmtToString("%s(%s): !!Packet ID mismatch (0x%x != 0x%x + 1) for block: 0x%x!!", who, where(),
                           header->packetId, packetId_, blockId_);
    if (length == wire::kStreamHeaderSize)
        return fmtToString("%s(%s): !!Unable to read the payload data, bytes_read = %zu [0x%zx]!!", who, where(),
                           length, length);
    packetId_ = header->packetId;
    HLV_TRACE(TRACE_STREAM, "%s(%s): BlockID=%u, packet_id=%u", who, where(), blockId_, packetId_);
    return {};
}

// A packet of `size` bytes scattered by readIntoHostBuffer(): its header at the bounce buffer's
// start, up to `room` data bytes at the active position, the rest after the header. One that does
// not continue the image is put back together in the bounce buffer's second half and handled as
// any other.
void UdpStream::acceptScattered(std::size_t size, std::size_t room)
{
    const std::size_t header = wire::kStreamHeaderSize;
    const std::size_t inPlace = size > header ? std::min(size - header, room) : 0;
    const std::size_t rest = size > header ? size - header - inPlace : 0;
    HLV_TRACE(TRACE_STREAM, "%s(%s): current_state=%u", "UdpStream::streamReader", where(), state_.load());
    const std::span<const uint8_t> head(bounce_.data(), std::min(size, header));
    if (payloadFault(head, size).empty()) {
        takePayload(inPlace, {bounce_.data() + header, rest});
        return;
    }
    uint8_t* whole = bounce_.data() + MAX_DATAGRAM;
    std::memcpy(whole, head.data(), head.size());
    std::memcpy(whole + header, activeData_, inPlace);
    std::memcpy(whole + header + inPlace, bounce_.data() + header, rest);
    handleDatagram({whole, size});
}

// Takes one packet's payload: `inPlace` bytes already received at the active position, then
// `rest`, which is copied on (into the next buffers when the active one is full).
void UdpStream::takePayload(std::size_t inPlace, std::span<const uint8_t> rest)
{
    noteImageData();
    notePace(false);
    const std::size_t wanted = imageLength_ - received_;
    if (inPlace + rest.size() > wanted) {
        // Keep the image's own bytes, never more, and give the buffer back marked faulty.
        HLV_LOG("%s(%s): Too much data...resetting.", "UdpStream::streamReader", where());
        const std::size_t kept = std::min(inPlace, wanted);
        advance(kept);
        storePayload(rest.first(wanted - kept));
        imageStatus_ |= HX_STREAM_STATUS_ERROR;
        handleImageReceived();
        state_ = LEADER;
        imageStatus_ = 0;
        leaderError_ = true;
        return;
    }
    if (inPlace + rest.size() < wanted)
        payloadPerPacket_ = inPlace + rest.size();
    advance(inPlace);
    storePayload(rest);
    HLV_TRACE(TRACE_STREAM, "%s(%s): bytes_read = %u/%u", "UdpStream::recvPayload", where(), received_, imageLength_);
    if (received_ == imageLength_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Got all expected bytes [%u]. On to TRAILER_STATE.", "UdpStream::streamReader",
                  where(), received_);
        state_ = TRAILER;
    } else if (activeData_ != nullptr && remaining_ < MIN_BUFFER_ROOM) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Buffer full. Get the next.", "UdpStream::streamReader", where());
        handBack(received_);
        nextBufferOrNone();
    }
}

void UdpStream::advance(std::size_t count)
{
    activeData_ += count;
    remaining_ -= count;
    received_ += static_cast<uint32_t>(count);
}

// Spreads the bytes over the active buffer and the next ones; never writes past a buffer's end.
// Bytes for which no buffer is left are dropped, and the next packet then ends the image.
void UdpStream::storePayload(std::span<const uint8_t> data)
{
    while (!data.empty() && activeData_ != nullptr) {
        const std::size_t count = std::min(data.size(), remaining_);
        std::memcpy(activeData_, data.data(), count);
        advance(count);
        data = data.subspan(count);
        if (!data.empty()) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): Buffer full. Get the next.", "UdpStream::recvPayload", where());
            handBack(received_);
            nextBufferOrNone();
        }
    }
}

void UdpStream::nextBufferOrNone()
{
    if (acquireBuffer())
        return;
    HLV_TRACE(TRACE_STREAM, "%s(%s): >>>>> Out of buffers! Client is not keeping up! <<<<<<", "UdpStream::streamReader",
              where());
    if (protocol_ == ids::DOWNLOAD_STREAM_MSG && totalQueuedBufferSpace() != 0)
        HLV_THROW(thread::LogicError, "total_queued_buffer_space is %zu; should be zero", totalQueuedBufferSpace());
}

// Lost or out-of-order packets make the image faulty: its buffer goes back with what arrived,
// marked complete and in error, and the parser waits for the next leader.
void UdpStream::payloadError(const char* text)
{
    HLV_LOG("%s", text);
    HLV_LOG("%s(%s): Error processing payload packets...resetting.", "UdpStream::streamReader", where());
    imageStatus_ |= HX_STREAM_STATUS_ERROR;
    handleImageReceived();
    state_ = LEADER;
    leaderError_ = true;
}

void UdpStream::recvTrailer(std::span<const uint8_t> datagram)
{
    const char* who = "UdpStream::recvTrailer";
    state_ = LEADER;
    uint32_t faults = 0;
    if (datagram.size() != wire::kStreamTrailerSize) {
        HLV_LOG("%s(%s): Unable to read trailer packet, len = %zu [0x%zx]", who, where(), datagram.size(),
                datagram.size());
        faults = ~0u;
    } else {
        const wire::StreamTrailer trailer = *wire::decodeStreamTrailer(datagram);
        const uint32_t expectedId = wire::nextPacketId(packetId_);
        faults = wire::checkStreamTrailer(trailer, blockId_, expectedId);
        if (faults & wire::trailer_fault::kWrongFormat)
            HLV_LOG("%s(%s): !!Out of sync. Got fmt=0x%x, but expecting TRAILER!!", who, where(),
                    trailer.header.packetFormat);
        if (faults & wire::trailer_fault::kBlockIdMismatch)
            HLV_LOG("%s(%s): !!Block ID mismatch (0x%x != 0x%x)!!", who, where(), trailer.header.blockId, blockId_);
        if (faults & wire::trailer_fault::kPacketIdMismatch)
            HLV_LOG("%s(%s): !!Packet ID mismatch (%u != %u + 1)!!", who, where(), trailer.header.packetId, packetId_);
        if (faults & wire::trailer_fault::kWrongPayloadType)
            HLV_LOG("%s(%s): !!Wrong PAYLOAD type = 0x%x!!", who, where(), trailer.payloadType);
    }
    if (faults != 0) {
        HLV_LOG("%s(%s): Error processing trailer packet...resetting.", "UdpStream::streamReader", where());
        imageStatus_ |= HX_STREAM_STATUS_ERROR;
        leaderError_ = true;
    }
    handleImageReceived();
}

void UdpStream::handleImageReceived()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): seq_number=%u", "UdpStream::handleImageReceived", where(), seqNumber_);
    imageStatus_ |= HX_STREAM_STATUS_COMPLETE;
    if (leaderMisfit_)
        imageStatus_ |= HX_STREAM_STATUS_ERROR;
    leaderMisfit_ = false;
    handBack(received_);
}

UdpStream::UdpStream(uint32_t cameraAddress, std::shared_ptr<HxComm> channel,
                     std::shared_ptr<RegisterChannel> registers)
    : StreamReceiver(cameraAddress, std::move(registers), "UdpStream", "UDP Stream"), socket_(std::move(channel)),
      bounce_(BOUNCE_BUFFER_SIZE),
      negotiation_(StreamReceiver::registers(), cameraAddress, label().whereText(), negotiationHooks())
{
}

PacketSizeNegotiation::Hooks UdpStream::negotiationHooks()
{
    PacketSizeNegotiation::Hooks hooks;
    hooks.localPort = [this] { return localPort(); };
    hooks.trialStarts = [this] { received_ = 0; };
    hooks.ended = [this] { state_ = protocol_ != ids::INTERNAL_START ? LEADER : IDLE; };
    // A trial's time-out goes to this receiver's own queue, as a timer would post it.
    hooks.postTimeout = [this](uint32_t packetSize) {
        auto* message = new (std::nothrow) udp::NegotiateMessage(true, packetSize);
        if (message == nullptr)
            HLV_THROW(thread::RuntimeError, "Unable to allocate the negotiate message.");
        message->owner = this;
        post(message);
    };
    return hooks;
}

UdpStream::~UdpStream()
{
    thread::closeThread(*this);
}

uint16_t UdpStream::localPort() const
{
    return socket_.port();
}

bool UdpStream::startUp()
{
    const char* who = "UdpStream::sockInit";
    HLV_TRACE(TRACE_STREAM, "%s: cam=%s", who, where());
    try {
        if (socket_.get() == nullptr || !socket_.get()->valid())
            HLV_THROW(thread::RuntimeError, "UDP stream socket unexpectedly null!");
        setLocalPort(socket_.port());
        socket_.watch(*postWake());
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during UdpStream socket initialization: %s", who, error.str().c_str());
        HLV_LOG("%s(%s): Unable to initialize the UDP stream socket!", who, where());
        return false;
    }
    receives_.chooseReceive();
    setConnected(true);
    return true;
}

void UdpStream::waitAndRead()
{
    std::optional<std::chrono::milliseconds> limit = negotiation_.untilTrialEnds();
    const bool judging = judgingSilence();
    const StreamPace::Clock::time_point waitStarted =
        judging ? StreamPace::Clock::now() : StreamPace::Clock::time_point{};
    const std::optional<std::chrono::milliseconds> silent =
        judging ? pace_.untilSilent(state_ != LEADER, waitStarted) : std::nullopt;
    if (silent)
        limit = limit ? std::min(*limit, *silent) : *silent;
    platform::PollSet& waitSet = socket_.waitSet();
    if (waitSet.wait(limit) == platform::PollStatus::Failed) {
        thread::RuntimeError failure;
        failure.add(__FILE__, __LINE__, "%s", "Could not wait for the stream's events");
        failure.add("%s", platform::errnoIndicates(waitSet.error()).c_str());
        throw failure;
    }
    if (silent) {
        const StreamPace::Clock::time_point woke = StreamPace::Clock::now();
        if (woke - waitStarted > *limit + StreamPace::LATE_WAKE)
            pace_.resumed(woke);
    }
    if (waitSet.events(0).any())
        postWake()->reset();
    if (waitSet.events(1).any())
        readDatagrams();
    negotiation_.endTrialWhenDue();
    endWhenSilent();
}

void UdpStream::notePace(bool frameStart)
{
    if (protocol_ == ids::DOWNLOAD_STREAM_MSG)
        pace_.arrived(StreamPace::Clock::now(), frameStart);
}

void UdpStream::pauseChanged()
{
    if (streamPaused())
        pace_.hold();
    else
        pace_.resumed(StreamPace::Clock::now());
}

// Only a running download is judged, and never while the throttle holds the camera for the host.
bool UdpStream::judgingSilence() const
{
    const uint32_t state = state_;
    return protocol_ == ids::DOWNLOAD_STREAM_MSG && (state == LEADER || state == PAYLOAD || state == TRAILER) &&
           !streamPaused();
}

// The socket has just been drained, so a silence seen here is the camera's, not this thread's. The
// image in progress goes back with what arrived, marked in error as for a lost packet; a download
// whose last frame has not come is then over (the camera sends its frames in order), and its
// watcher ends it at once instead of after the stall period. Judged once until data comes again.
void UdpStream::endWhenSilent()
{
    if (!judgingSilence())
        return;
    const bool inFrame = state_ != LEADER;
    const std::optional<StreamPace::Clock::time_point> at = pace_.silentAt(inFrame);
    if (!at || StreamPace::Clock::now() < *at)
        return;
    const auto pace = std::chrono::duration_cast<std::chrono::microseconds>(pace_.longestGap()).count();
    if (inFrame) {
        HLV_LOG("%s(%s): The stream fell silent in frame %u (%u of %u bytes; datagrams at most %lld us apart until "
                "then); the frame is returned in error.",
                "UdpStream::streamReader", where(), seqNumber_, received_, imageLength_, static_cast<long long>(pace));
        imageStatus_ |= HX_STREAM_STATUS_ERROR;
        handleImageReceived();
        state_ = LEADER;
        leaderError_ = true;
    }
    if (downloadThrottle().endToCome()) {
        HLV_LOG("%s(%s): The download fell silent before its last frame %u (datagrams at most %lld us apart until "
                "then); ending it.",
                "UdpStream::streamReader", where(), downloadThrottle().lastFrame(), static_cast<long long>(pace));
        noteSilentEnd();
    }
    pace_.hold();
}

// While an image's payload arrives, each packet is received straight into the host buffer;
// otherwise two datagrams per call go into the halves of the bounce buffer.
void UdpStream::shutDown()
{
    negotiation_.stop();
    socket_.stopWatching();
}

void UdpStream::readDatagrams()
{
    for (unsigned calls = 0; calls < MAX_CALLS_PER_PASS && !messagesWaiting(); ++calls) {
        const bool more =
            state_ == PAYLOAD && activeData_ != nullptr ? receives_.readIntoHostBuffer() : receives_.readBatch();
        if (!more)
            return;
    }
}

} // namespace halvex::stream
