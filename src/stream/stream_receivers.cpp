// The image receiver of a camera's stream session: which one runs (UDP or TCP), making it and
// replacing one that stopped, handing it host buffers, and what the session asks of it.
#include "stream/stream_receivers.h"

#include <cerrno>
#include <new>
#include <utility>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "registers/register_map.h"
#include "stream/tcp_stream.h"
#include "stream/udp_channel_handover.h"
#include "stream/udp_stream.h"

namespace halvex::stream {

using callback::HxStreamBuffer;
using callback::streamBufferOf;
using callback::StreamControl;
using callback::StreamControlRequest;
using camera::CameraServices;
using control::HxComm;
using control::RegisterChannel;

using thread::TRACE_STREAM;
namespace ids = message_ids;
namespace regs = registers;

StreamReceivers::StreamReceivers(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                                 const std::string& cameraName, thread::MsgThread* serviceThread)
    : cameraAddress_(cameraAddress), registers_(std::move(registers)), cameraName_(cameraName),
      serviceThread_(serviceThread)
{
}

StreamReceivers::~StreamReceivers()
{
    disconnect();
}

bool StreamReceivers::connect(bool overUdp)
{
    return overUdp ? connectUdp() : connectTcp();
}

bool StreamReceivers::connectUdp()
{
    const char* who = "HxStreamOperations::connectStream";
    dropHalted(udp_);
    if (udp_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Already connected.", who, cameraName_.c_str());
        return false;
    }
    std::shared_ptr<HxComm> channel = HxComm::factory(cameraAddress_);
    if (!channel)
        HLV_THROW(thread::RuntimeError, "Unexpectedly null HxComm pointer!");
    if (channel->streamSocket() == nullptr) {
        HLV_LOG("%s: Unexpectedly null sock_ptr!", who);
        return false;
    }
    udpChannel_ = channel;
    std::unique_ptr<UdpStream> receiver(new (std::nothrow) UdpStream(cameraAddress_, std::move(channel), registers_));
    if (!receiver)
        platform::raiseSystemError(__FILE__, __LINE__, "Could not create UdpStream protocol object", ENOMEM);
    start(*receiver, "UDP");
    udp_ = std::move(receiver);
    auto* negotiate = new StreamControl<thread::Message>(StreamControlRequest::TEST_PACKET, 1);
    negotiate->owner = udp_.get();
    udp_->post(negotiate);
    return true;
}

bool StreamReceivers::connectTcp()
{
    dropHalted(tcp_);
    if (tcp_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Already connected.", "HxStreamOperations::connectStream", cameraName_.c_str());
        return false;
    }
    std::unique_ptr<TcpStream> receiver(new (std::nothrow) TcpStream(cameraAddress_, registers_, wire::kTcpStreamPort));
    if (!receiver)
        platform::raiseSystemError(__FILE__, __LINE__, "Could not create TcpStream protocol object", ENOMEM);
    start(*receiver, "TCP");
    tcp_ = std::move(receiver);
    return true;
}

// A new receiver counts into the session's counters, which outlive it, and returns downloads
// through the service thread that puts itself on their route.
void StreamReceivers::start(StreamReceiver& receiver, const char* kind)
{
    receiver.countDataIn(dataIn_);
    receiver.countSilentEnds(silentEnds_);
    receiver.returnDownloadsThrough(downloadReturnThread());
    if (!receiver.startAndWait())
        HLV_LOG("%s(%s): The %s receiver did not start", "HxStreamOperations::connectStream", cameraName_.c_str(),
                kind);
}

// A receiver that failed to start (or whose thread ended) answers every buffer with an error; it
// is kept until the next connect, so the buffers handed in meanwhile come back marked, and is
// then replaced.
template <class Receiver>
void StreamReceivers::dropHalted(std::unique_ptr<Receiver>& receiver)
{
    if (!receiver || !receiver->halted())
        return;
    HLV_LOG("%s(%s): Replacing a stream receiver that is not running", "HxStreamOperations::connectStream",
            cameraName_.c_str());
    thread::closeThread(*receiver);
    receiver.reset();
}

void StreamReceivers::disconnect()
{
    if (udp_) {
        thread::closeThread(*udp_);
        udp_.reset();
    }
    if (tcp_) {
        thread::closeThread(*tcp_);
        tcp_.reset();
    }
}

void StreamReceivers::handleMessage(thread::Message* message)
{
    const char* who = "HxStreamOperations::handleMessage";
    StreamReceiver* target = current();
    if (target == nullptr) {
        HLV_TRACE(TRACE_STREAM, "%s: No protocol handler allocated!", who);
        message->reply(thread::MESSAGE_DONE);
        return;
    }
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr) {
        HLV_LOG("%s: Unexpectedly null stream message!", who);
        message->reply(thread::MESSAGE_DONE);
        return;
    }
    if (stream->buffer() != nullptr) {
        HLV_TRACE(TRACE_STREAM, "%s: Got a buffer address, adding to our queue. [m=%p]", who,
                  static_cast<void*>(message));
        if (message->req == ids::DOWNLOAD_STREAM_MSG) {
            HLV_TRACE(TRACE_STREAM, "%s: Download streams need a return through the CameraServices object.", who);
            if (thread::MsgThread* service = downloadReturnThread())
                message->pushRoute(service);
        }
    } else if (!stream->stop) {
        return;
    } else {
        HLV_TRACE(TRACE_STREAM, "%s: Shutdown message received.", who);
    }
    target->post(message);
}

thread::MsgThread* StreamReceivers::downloadReturnThread() const
{
    if (serviceThread_ != nullptr)
        return serviceThread_;
    return CameraServices::find(cameraAddress_).get();
}

void StreamReceivers::appendDestination(wire::RegisterPairs& writes)
{
    if (!udp_)
        return;
    const uint16_t port = followCameraChannel();
    writes.push_back({regs::GIGE_REG_SCDA0, HxComm::localAddressToward(cameraAddress_)});
    writes.push_back({regs::GIGE_REG_SCP0, port});
}

// The UDP receiver outlives a camera given up and found again; the camera's control channel does
// not. The receiver is handed the camera's current channel when it reads another one, and takes it
// up on its own thread; datagrams sent to the new socket wait there until it does.
uint16_t StreamReceivers::followCameraChannel()
{
    std::shared_ptr<HxComm> followed = udpChannel_.lock();
    std::shared_ptr<HxComm> current = HxComm::factory(cameraAddress_);
    if (current && current != followed && current->streamSocket() != nullptr && current->streamSocket()->valid()) {
        auto* handover = new (std::nothrow) udp::ChannelHandover(current);
        if (handover == nullptr)
            platform::raiseSystemError(__FILE__, __LINE__, "Could not create the channel handover message", ENOMEM);
        handover->owner = udp_.get();
        udpChannel_ = current;
        followed = std::move(current);
        udp_->post(handover);
    }
    return followed && followed->streamSocket() != nullptr ? followed->streamSocket()->port() : udp_->localPort();
}

StreamReceiver* StreamReceivers::current() const
{
    if (udp_)
        return udp_.get();
    return tcp_.get();
}

const UdpStream* StreamReceivers::udp() const
{
    return udp_.get();
}

uint32_t StreamReceivers::packetSize() const
{
    if (udp_)
        return udp_->negotiatedPacketSize();
    if (tcp_)
        return TcpStream::PACKET_SIZE;
    return 0;
}

bool StreamReceivers::paused() const
{
    const StreamReceiver* target = current();
    return target == nullptr || target->streamPaused();
}

bool StreamReceivers::running() const
{
    const StreamReceiver* target = current();
    return target != nullptr && !target->halted();
}

bool StreamReceivers::idle() const
{
    if (udp_)
        return udp_->state() == UdpStream::IDLE;
    return !tcp_ || tcp_->isRecovering();
}

std::shared_ptr<const std::atomic<uint64_t>> StreamReceivers::dataIn() const
{
    return dataIn_;
}

std::shared_ptr<const std::atomic<uint64_t>> StreamReceivers::silentEnds() const
{
    return silentEnds_;
}

} // namespace halvex::stream
