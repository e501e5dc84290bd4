// Family stream flows: the live, playback and download sessions of a register-based family's
// camera, driven from its service thread: the messages routed to the flows, and the lock that
// serialises them with the setters.
#include "family/streaming.h"

#include <utility>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "discovery/discovery.h"
#include "family/confirmed_stream_control.h"
#include "family/download_watchdog.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/ipv4_endpoint.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using callback::HxStreamBuffer;
using callback::streamBufferOf;
using control::HxComm;
using control::RegisterChannel;
using stream::HxStreamOperations;

using thread::Message;
using thread::TRACE_OPERATIONS;
namespace ids = message_ids;

FamilyStreaming::FamilyStreaming(uint32_t cameraAddress, RegisterChannel& channel, HxStreamOperations& streamOperations,
                                 Hooks hooks)
    : flow_{cameraAddress, platform::ipv4ToText(cameraAddress), channel, streamOperations, std::move(hooks)},
      link_(flow_), live_(flow_, link_), download_(flow_, link_)
{
}

// The download flow goes first (members end in reverse order): its watchdog stops and discovery
// polling comes back before the flows' shared state goes.
FamilyStreaming::~FamilyStreaming() = default;

FamilyStreaming::LiveStreamPause::LiveStreamPause(FamilyStreaming& streaming) : streaming_(streaming)
{
    std::lock_guard<std::recursive_mutex> flow(streaming_.flowLock_);
    stopped_ = streaming_.live_.stopForSetter();
}

FamilyStreaming::LiveStreamPause::~LiveStreamPause()
{
    std::lock_guard<std::recursive_mutex> flow(streaming_.flowLock_);
    if (stopped_)
        streaming_.live_.restartAfterSetter();
}

bool FamilyStreaming::liveRunning() const
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return live_.running();
}

void FamilyStreaming::connectStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    link_.connect();
}

void FamilyStreaming::disconnectStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("disconnectStream"), flow_.name.c_str());
    download_.forget();
    flow_.streamOps.disconnectStream();
}

uint32_t FamilyStreaming::streamShutdown()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("streamShutdown"), flow_.name.c_str());
    if (!HxComm::isKnown(flow_.address))
        return 0;
    if (flow_.streamOps.receiverIdle() && !download_.running())
        return 1;
    if (flow_.writtenStreamControl == registers::STREAM_CONTROL_DOWNLOAD)
        download_.stop();
    else if (flow_.writtenStreamControl == registers::STREAM_CONTROL_LIVE)
        live_.stop();
    return 1;
}

bool FamilyStreaming::startLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return live_.start();
}

void FamilyStreaming::stopLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    live_.stop();
}

void FamilyStreaming::resumeLiveStream()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    live_.resume();
}

bool FamilyStreaming::kickOffDownload()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return download_.kickOff();
}

uint32_t FamilyStreaming::stopDownload()
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return download_.stop();
}

bool FamilyStreaming::holdWhileAway(Message* message)
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    return live_.holdWhileAway(message);
}

void FamilyStreaming::handleStreaming(Message* message)
{
    std::lock_guard<std::recursive_mutex> flow(flowLock_);
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("handleStreaming"), flow_.name.c_str());
    if (message == nullptr)
        HLV_THROW(thread::LogicError, "%s: Unexpectedly null message!", HLV_LABEL("handleStreaming"));
    if (message->status != thread::MESSAGE_PENDING) {
        outBound(message);
        return;
    }
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr)
        HLV_THROW(thread::LogicError, "Could not make stream_msg");
    inBound(message, *stream);
}

void FamilyStreaming::inBound(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s: Processing in-bound message (req=%d, %p)", HLV_LABEL("handleStreaming"),
              static_cast<int>(message->req), static_cast<void*>(message));
    if (!stream.stop)
        link_.connect();
    switch (message->req) {
    case ids::DOWNLOAD_STREAM_MSG: download_.handleMessage(message, stream); break;
    case ids::PLAYBACK_STREAM_MSG: handlePlaybackStreamMsg(message, stream); break;
    case ids::LIVE_STREAM_MSG: live_.handleMessage(message, stream); break;
    default:
        HLV_THROW(thread::LogicError, "%s: Unknown stream kind [0x%x]", HLV_LABEL("handleStreaming"), message->req);
    }
}

// Only downloads come back here: the receiver put this thread first on their route.
void FamilyStreaming::outBound(Message* message)
{
    const char* who = HLV_LABEL("handleStreaming");
    HLV_TRACE(TRACE_OPERATIONS, "%s: Processing out-bound message (%p)", who, static_cast<void*>(message));
    HxStreamBuffer* stream = streamBufferOf(message);
    if (stream == nullptr)
        HLV_THROW(thread::LogicError, "%s: Unexpectedly null _HxStream message!", who);
    if (stream->released) {
        HLV_TRACE(TRACE_OPERATIONS, "%s: Passing on released buffer [%p]", who, static_cast<void*>(message));
    } else if (message->req == ids::DOWNLOAD_STREAM_MSG) {
        HLV_TRACE(TRACE_OPERATIONS, "%s: Passing on filled buffer [%p]", who, static_cast<void*>(message));
        download_.bufferFilled(*stream);
    }
    message->forward();
}

// The camera's playback registers are written by the playback settings; buffers only queue here.
void FamilyStreaming::handlePlaybackStreamMsg(Message* message, HxStreamBuffer& stream)
{
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s) m=%p", HLV_LABEL("handlePlaybackStreamMsg"), flow_.name.c_str(),
              static_cast<void*>(message));
    link_.passOn(message, stream);
}

} // namespace halvex::family
