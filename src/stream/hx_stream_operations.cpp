// A camera's stream session: chooses and runs its image receiver, turns the streaming part of
// the download settings into register writes, and starts, stops, pauses and releases streams.
#include "stream/hx_stream_operations.h"

#include <cerrno>
#include <new>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/tcp_stream.h"
#include "stream/udp_stream.h"

using HLV_THREAD::TRACE_STREAM;
using HX_RECORDS::flagSet;
namespace ids = HX_MESSAGE_IDS;
namespace regs = HX_REGISTERS;

namespace {

constexpr uint32_t MIN_PACKET_DELAY = 10;
constexpr uint32_t MAX_PACKET_DELAY = 1000000;
constexpr uint32_t DOWNLOAD_HEARTBEAT_TIMEOUT = 1000000;
constexpr uint32_t NORMAL_HEARTBEAT_TIMEOUT = 10000;

// Frame numbers appear in refusal lines as signed numbers, the form those lines have always had.
int asInt(uint32_t value)
{
    return static_cast<int>(value);
}

// Runs one field's check; a refusal is logged, marks the field and leaves the others to go on.
template <class Check>
bool refusedBy(uint32_t& flags, Check check)
{
    try {
        check();
        return false;
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        flags |= HX_FLAG_ERR;
        return true;
    }
}

} // namespace

HxStreamOperations::HxStreamOperations(uint32_t cameraAddress, std::shared_ptr<RegisterChannel> registers,
                                       HLV_THREAD::MsgThread* serviceThread)
    : cameraAddress_(cameraAddress), registers_(std::move(registers)),
      cameraName_(HX_PLATFORM::ipv4ToText(cameraAddress)), serviceThread_(serviceThread)
{
}

HxStreamOperations::~HxStreamOperations()
{
    disconnectStream();
    HLV_TRACE(TRACE_STREAM, "%s: done.", "HxStreamOperations::~HxStreamOperations");
}

void HxStreamOperations::connectStream(bool isTarrow)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): is_tarrow=%d", "HxStreamOperations::connectStream", cameraName_.c_str(),
              isTarrow ? 1 : 0);
    if (isTarrow)
        connectUdp();
    else
        connectTcp();
}

void HxStreamOperations::connectUdp()
{
    const char* who = "HxStreamOperations::connectStream";
    dropHalted(udp_);
    if (udp_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Already connected.", who, cameraName_.c_str());
        return;
    }
    std::shared_ptr<HxComm> channel = HxComm::factory(cameraAddress_);
    if (!channel)
        HLV_THROW(HLV_THREAD::RuntimeError, "Unexpectedly null HxComm pointer!");
    if (channel->streamSocket() == nullptr) {
        HLV_LOG("%s: Unexpectedly null sock_ptr!", who);
        return;
    }
    std::unique_ptr<UdpStream> receiver(new (std::nothrow) UdpStream(cameraAddress_, std::move(channel), registers_));
    if (!receiver)
        HX_PLATFORM::raiseSystemError(__FILE__, __LINE__, "Could not create UdpStream protocol object", ENOMEM);
    receiver->countDataIn(dataIn_);
    receiver->countSilentEnds(silentEnds_);
    if (!receiver->startAndWait())
        HLV_LOG("%s(%s): The UDP receiver did not start", who, cameraName_.c_str());
    udp_ = std::move(receiver);
    auto* negotiate = new StreamControl<HLV_THREAD::Message>(StreamControlRequest::TEST_PACKET, 1);
    negotiate->owner = udp_.get();
    udp_->post(negotiate);
    restoreParser();
}

void HxStreamOperations::connectTcp()
{
    dropHalted(tcp_);
    if (tcp_) {
        HLV_TRACE(TRACE_STREAM, "%s(%s): Already connected.", "HxStreamOperations::connectStream", cameraName_.c_str());
        return;
    }
    std::unique_ptr<TcpStream> receiver(new (std::nothrow)
                                            TcpStream(cameraAddress_, registers_, HX_WIRE::kTcpStreamPort));
    if (!receiver)
        HX_PLATFORM::raiseSystemError(__FILE__, __LINE__, "Could not create TcpStream protocol object", ENOMEM);
    receiver->countDataIn(dataIn_);
    receiver->countSilentEnds(silentEnds_);
    if (!receiver->startAndWait())
        HLV_LOG("%s(%s): The TCP receiver did not start", "HxStreamOperations::connectStream", cameraName_.c_str());
    tcp_ = std::move(receiver);
    restoreParser();
}

// A receiver that failed to start (or whose thread ended) answers every buffer with an error; it
// is kept until the next connect, so the buffers handed in meanwhile come back marked, and is
// then replaced.
template <class Receiver>
void HxStreamOperations::dropHalted(std::unique_ptr<Receiver>& receiver)
{
    if (!receiver || !receiver->halted())
        return;
    HLV_LOG("%s(%s): Replacing a stream receiver that is not running", "HxStreamOperations::connectStream",
            cameraName_.c_str());
    HLV_THREAD::closeThread(*receiver);
    receiver.reset();
}

// A download, playback or live stream may be switched on before any buffer made the receiver; the
// new receiver must parse what the camera was told to send, and know a download's frames.
void HxStreamOperations::restoreParser()
{
    if (parserKind_ == 0 || !receiverRunning())
        return;
    if (parserKind_ == ids::DOWNLOAD_STREAM_MSG)
        receiver()->setDownloadRange(downloadRange_.first, downloadRange_.second);
    sendParserSwitch(parserKind_, true);
}

void HxStreamOperations::disconnectStream()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::disconnectStream", cameraName_.c_str());
    if (udp_) {
        HLV_THREAD::closeThread(*udp_);
        udp_.reset();
    }
    if (tcp_) {
        HLV_THREAD::closeThread(*tcp_);
        tcp_.reset();
    }
}

StreamReceiver* HxStreamOperations::receiver() const
{
    if (udp_)
        return udp_.get();
    return tcp_.get();
}

void HxStreamOperations::handleMessage(HLV_THREAD::Message* message)
{
    const char* who = "HxStreamOperations::handleMessage";
    StreamReceiver* target = receiver();
    if (target == nullptr) {
        HLV_TRACE(TRACE_STREAM, "%s: No protocol handler allocated!", who);
        message->reply(HLV_THREAD::MESSAGE_DONE);
        return;
    }
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr) {
        HLV_LOG("%s: Unexpectedly null stream message!", who);
        message->reply(HLV_THREAD::MESSAGE_DONE);
        return;
    }
    if (stream->buffer() != nullptr) {
        HLV_TRACE(TRACE_STREAM, "%s: Got a buffer address, adding to our queue. [m=%p]", who,
                  static_cast<void*>(message));
        if (message->req == ids::DOWNLOAD_STREAM_MSG) {
            HLV_TRACE(TRACE_STREAM, "%s: Download streams need a return through the CameraServices object.", who);
            if (HLV_THREAD::MsgThread* service = downloadReturnThread())
                message->pushRoute(service);
        }
    } else if (!stream->stop) {
        return;
    } else {
        HLV_TRACE(TRACE_STREAM, "%s: Shutdown message received.", who);
    }
    target->post(message);
}

HLV_THREAD::MsgThread* HxStreamOperations::downloadReturnThread() const
{
    if (serviceThread_ != nullptr)
        return serviceThread_;
    return CameraServices::find(cameraAddress_).get();
}

void HxStreamOperations::setSettings(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::setSettings", cameraName_.c_str());
    if (!flagSet(settings.flags))
        return;
    if (udp_)
        appendStreamChannel(settings, writes);
    if (flagSet(settings.rate_control_flags))
        DownloadThrottle::set({settings.pause_count, settings.resume_count});
    if (flagSet(settings.turbo_delay_flags)) {
        refusedBy(settings.turbo_delay_flags, [&] {
            const uint32_t delay = settings.turbo_delay;
            if (delay < MIN_PACKET_DELAY || delay > MAX_PACKET_DELAY)
                HLV_THROW(SettingsException, "Stream packet delay is out of range!");
            writes.push_back({regs::GIGE_REG_SCPD0, delay});
        });
    }
    appendFrames(settings, writes);
    writes.push_back({regs::GIGE_REG_DOWNLOAD_E92C, 1});
    writes.push_back({regs::GIGE_REG_DOWNLOAD_E930, 0});
    settingsApplied_ = true;
}

void HxStreamOperations::appendDestination(HX_WIRE::RegisterPairs& writes) const
{
    if (!udp_)
        return;
    writes.push_back({regs::GIGE_REG_SCDA0, HxComm::localAddressToward(cameraAddress_)});
    writes.push_back({regs::GIGE_REG_SCP0, udp_->localPort()});
}

// Where the UDP stream goes (this host, the receiver's port) and in what packet size.
void HxStreamOperations::appendStreamChannel(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes)
{
    if (!HxComm::factory(cameraAddress_))
        HLV_THROW(HLV_THREAD::RuntimeError, "Unexpectedly null HxComm pointer!");
    appendDestination(writes);
    if (!flagSet(settings.turbo_packet_length_flags)) {
        // Before the packet-size negotiation has ended there is no size to give: writing 0 would
        // break the stream, and the negotiation writes the size it settles on itself.
        if (const uint32_t negotiated = udp_->negotiatedPacketSize(); negotiated != 0)
            writes.push_back({regs::GIGE_REG_SCPS0, negotiated | regs::SCPS0_DO_NOT_FRAGMENT});
        return;
    }
    refusedBy(settings.turbo_packet_length_flags, [&] {
        const uint32_t length = settings.turbo_packet_length;
        if (length != 0 && (length < regs::STANDARD_PACKET_SIZE || length > regs::JUMBO_PACKET_SIZE))
            HLV_THROW(SettingsException, "Stream packet length is out of range!");
        writes.push_back({regs::GIGE_REG_SCPS0, length | regs::SCPS0_DO_NOT_FRAGMENT});
        streamPacketLength_ = length;
    });
}

void HxStreamOperations::appendFrames(HX_DOWNLOAD_SETTINGS& settings, HX_WIRE::RegisterPairs& writes)
{
    const uint32_t start = settings.start;
    const uint32_t stop = settings.stop;
    bool startRefused = false;
    if (flagSet(settings.start_flags)) {
        startRefused = refusedBy(settings.start_flags, [&] {
            if (start > settings.start_max)
                HLV_THROW(SettingsException, "Starting frame number exceeds maximum (%d > %d)", asInt(start),
                          asInt(settings.start_max));
            if (start > stop)
                HLV_THROW(SettingsException, "Starting frame number exceeds end frame (%d >= %d)", asInt(start),
                          asInt(stop));
            writes.push_back({regs::GIGE_REG_DOWNLOAD_START, start});
        });
    }
    if (flagSet(settings.stop_flags)) {
        refusedBy(settings.stop_flags, [&] {
            if (stop > settings.stop_max)
                HLV_THROW(SettingsException, "Ending frame number exceeds maximum (%d > %d)", asInt(stop),
                          asInt(settings.stop_max));
            writes.push_back({regs::GIGE_REG_DOWNLOAD_END, stop});
        });
    }
    if (!startRefused)
        writes.push_back({regs::GIGE_REG_DOWNLOAD_E918, start});
}

void HxStreamOperations::startDownload(HX_WIRE::RegisterPairs& writes, uint32_t firstFrame, uint32_t lastFrame)
{
    downloadRange_ = {firstFrame, lastFrame};
    if (StreamReceiver* target = receiver())
        target->setDownloadRange(firstFrame, lastFrame);
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::startDownload", cameraName_.c_str());
    enableParser(ids::DOWNLOAD_STREAM_MSG, true);
    writes.push_back({regs::GIGE_REG_HEARTBEAT_TIMEOUT, DOWNLOAD_HEARTBEAT_TIMEOUT});
    writes.push_back({regs::GIGE_REG_STREAM_CONTROL, regs::STREAM_CONTROL_DOWNLOAD});
    settingsApplied_ = false;
}

void HxStreamOperations::stopDownload(HX_WIRE::RegisterPairs& writes)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::stopDownload", cameraName_.c_str());
    writes.push_back({regs::GIGE_REG_STREAM_CONTROL, regs::STREAM_CONTROL_STOP});
    writes.push_back({regs::GIGE_REG_HEARTBEAT_TIMEOUT, NORMAL_HEARTBEAT_TIMEOUT});
    enableParser(ids::DOWNLOAD_STREAM_MSG, false);
    HLV_TRACE(TRACE_STREAM, "%s: done", "HxStreamOperations::stopDownload");
}

void HxStreamOperations::startLive()
{
    switchParser("HxStreamOperations::startLive", ids::LIVE_STREAM_MSG, true);
}

void HxStreamOperations::stopLive()
{
    switchParser("HxStreamOperations::stopLive", ids::LIVE_STREAM_MSG, false);
}

void HxStreamOperations::startPlayback()
{
    switchParser("HxStreamOperations::startPlayback", ids::PLAYBACK_STREAM_MSG, true);
}

void HxStreamOperations::stopPlayback()
{
    switchParser("HxStreamOperations::stopPlayback", ids::PLAYBACK_STREAM_MSG, false);
}

// A live or playback switch: the camera's side is written by the caller.
void HxStreamOperations::switchParser(const char* who, uint32_t streamKind, bool enable)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", who, cameraName_.c_str());
    enableParser(streamKind, enable);
    if (!enable)
        HLV_TRACE(TRACE_STREAM, "%s: done", who);
}

// Waits until the receiver has switched its parser; a halted receiver answers at once.
void HxStreamOperations::enableParser(uint32_t streamKind, bool enable)
{
    if (enable)
        parserKind_ = streamKind;
    else if (parserKind_ == streamKind)
        parserKind_ = 0;
    sendParserSwitch(streamKind, enable);
}

void HxStreamOperations::sendParserSwitch(uint32_t streamKind, bool enable)
{
    StreamReceiver* target = receiver();
    if (target == nullptr)
        return;
    StreamControl<HLV_THREAD::SyncMessage> control(StreamControlRequest::ENABLE_PARSER, enable ? 1 : 0, streamKind);
    control.send(target);
}

void HxStreamOperations::pauseStream(bool pause)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d", "HxStreamOperations::pauseStream", cameraName_.c_str(), pause ? 1 : 0);
    postControl(StreamControlRequest::PAUSE_STREAM, pause ? 0 : 1);
}

void HxStreamOperations::releaseBuffers()
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::releaseBuffers", cameraName_.c_str());
    postControl(StreamControlRequest::SHUTDOWN, 1);
}

// Owned by the receiver, which deletes it once handled.
void HxStreamOperations::postControl(uint32_t command, uint8_t flag)
{
    StreamReceiver* target = receiver();
    if (target == nullptr) {
        HLV_LOG("%s: No stream thread available?!", command == StreamControlRequest::PAUSE_STREAM
                                                        ? "HxStreamOperations::pauseStream"
                                                        : "HxStreamOperations::releaseBuffers");
        return;
    }
    auto* control = new StreamControl<HLV_THREAD::Message>(command, flag);
    control->owner = target;
    target->post(control);
}

uint32_t HxStreamOperations::traced(const char* who, const RegisterCache& registers, uint32_t address,
                                    uint32_t fallback) const
{
    const auto found = registers.find(address);
    const uint32_t value = found != registers.end() ? found->second : fallback;
    HLV_TRACE(TRACE_STREAM, "%s(%s): %d", who, cameraName_.c_str(), static_cast<int>(value));
    return value;
}

uint32_t HxStreamOperations::getPacketDelay(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getPacketDelay", registers, regs::GIGE_REG_SCPD0, DEFAULT_PACKET_DELAY);
}

uint32_t HxStreamOperations::getPacketLen(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getPacketLen", registers, regs::GIGE_REG_SCPS0, 0);
}

uint32_t HxStreamOperations::getStart(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getStart", registers, regs::GIGE_REG_DOWNLOAD_START, 0);
}

uint32_t HxStreamOperations::getStop(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getStop", registers, regs::GIGE_REG_DOWNLOAD_END, 0);
}

uint32_t HxStreamOperations::getStreamPktLen() const
{
    uint32_t length = 0;
    if (udp_)
        length = udp_->negotiatedPacketSize();
    else if (tcp_)
        length = TCP_PACKET_SIZE;
    HLV_TRACE(TRACE_STREAM, "%s(%s): %d", "HxStreamOperations::getStreamPktLen", cameraName_.c_str(),
              static_cast<int>(length));
    return length;
}

void HxStreamOperations::getThrottleParams(uint32_t& pauseCount, uint32_t& resumeCount) const
{
    const DownloadThrottle::Counts throttle = DownloadThrottle::current();
    pauseCount = throttle.pauseCount;
    resumeCount = throttle.resumeCount;
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d, resume=%d", "HxStreamOperations::getThrottleParams", cameraName_.c_str(),
              static_cast<int>(pauseCount), static_cast<int>(resumeCount));
}

bool HxStreamOperations::streamPaused() const
{
    const StreamReceiver* target = receiver();
    return target == nullptr || target->streamPaused();
}

bool HxStreamOperations::hasReceiver() const
{
    return receiver() != nullptr;
}

bool HxStreamOperations::receiverRunning() const
{
    const StreamReceiver* target = receiver();
    return target != nullptr && !target->halted();
}

bool HxStreamOperations::receiverIdle() const
{
    if (udp_)
        return udp_->state() == UdpStream::IDLE;
    return !tcp_ || tcp_->isRecovering();
}

bool HxStreamOperations::settingsApplied() const
{
    return settingsApplied_;
}

uint32_t HxStreamOperations::streamPacketLength() const
{
    return streamPacketLength_;
}

uint32_t HxStreamOperations::cameraAddress() const
{
    return cameraAddress_;
}

std::shared_ptr<const std::atomic<uint64_t>> HxStreamOperations::dataIn() const
{
    return dataIn_;
}

std::shared_ptr<const std::atomic<uint64_t>> HxStreamOperations::silentEnds() const
{
    return silentEnds_;
}
