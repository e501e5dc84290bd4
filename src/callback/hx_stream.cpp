// Stream buffer and stream control messages: a host image buffer on its way to a camera's receiver and back.
#include "callback/hx_stream.h"

#include <algorithm>
#include <cstring>

#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::callback {

using camera::CameraServices;

namespace {

// Receivers store lengths in 32-bit fields and signed arithmetic; larger buffers are used in part.
constexpr std::size_t USABLE_BUFFER_LIMIT = 0x7FFFFFFF;

} // namespace

HxStreamBuffer::HxStreamBuffer(HX_READ_STREAM* hostRecord, const std::shared_ptr<CameraServices>& service,
                               HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
    : hostRecord_(hostRecord), service_(service), client_(client), camera_(camera)
{
    if (hostRecord_ != nullptr) {
        std::memcpy(&copy_, hostRecord_, sizeof copy_);
        if (copy_.ver_maj != HX_API_VERSION_MAJ || copy_.ver_min != HX_API_VERSION_MIN) {
            HLV_LOG("_HxStream constructor.  stream_ptr->ver_maj[%d] != HX_API_VERSION_MAJ[%d] and "
                    "stream_ptr->ver_min[%d] != HX_API_VERSION_MIN[%d].  RUNTIME ERROR WILL TERMINATE.",
                    copy_.ver_maj, HX_API_VERSION_MAJ, copy_.ver_min, HX_API_VERSION_MIN);
            HLV_THROW(thread::RuntimeError, "Wrong API version");
        }
    }
    if (service) {
        cameraAddress_ = service->address();
        cameraName_ = service->cameraName();
    }
}

HxStreamBuffer::~HxStreamBuffer() = default;

void* HxStreamBuffer::buffer() const
{
    return copy_.buffer;
}

std::size_t HxStreamBuffer::bufferSize() const
{
    return static_cast<std::size_t>(std::min<uint64_t>(copy_.buffer_size, USABLE_BUFFER_LIMIT));
}

HX_CLIENT_HANDLE HxStreamBuffer::clientHandle() const
{
    return client_;
}

HX_CAMERA_HANDLE HxStreamBuffer::cameraHandle() const
{
    return camera_;
}

HX_READ_STREAM* HxStreamBuffer::hostRecord() const
{
    return hostRecord_;
}

const HX_READ_STREAM& HxStreamBuffer::record() const
{
    return copy_;
}

uint32_t HxStreamBuffer::cameraAddress() const
{
    return cameraAddress_;
}

const std::string& HxStreamBuffer::cameraName() const
{
    return cameraName_;
}

std::shared_ptr<CameraServices> HxStreamBuffer::service() const
{
    return service_.lock();
}

void HxStreamBuffer::setResults(uint32_t imageLength, uint32_t frameId, uint32_t status, uint32_t receivedLength)
{
    copy_.image_length = imageLength;
    copy_.frame_id = frameId;
    copy_.status = status;
    copy_.received_length = receivedLength;
}

void HxStreamBuffer::release()
{
    setResults(0, 0, copy_.status | HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST, 0);
    released = true;
}

void HxStreamBuffer::copyBack() const
{
    if (hostRecord_ != nullptr)
        std::memcpy(hostRecord_, &copy_, sizeof copy_);
}

HxStreamBuffer* streamBufferOf(thread::Message* message)
{
    return dynamic_cast<HxStreamBuffer*>(message);
}

bool isStreamKind(uint32_t req)
{
    return req == message_ids::DOWNLOAD_STREAM_MSG || req == message_ids::PLAYBACK_STREAM_MSG ||
           req == message_ids::LIVE_STREAM_MSG;
}

StreamControlRequest::StreamControlRequest(uint32_t commandCode, uint8_t flagValue, uint32_t protocolKind)
    : command(commandCode), flag(flagValue), protocol(protocolKind)
{
}

StreamControlRequest::~StreamControlRequest() = default;

StreamControlRequest* streamControlOf(thread::Message* message)
{
    return dynamic_cast<StreamControlRequest*>(message);
}

} // namespace halvex::callback
