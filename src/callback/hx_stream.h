// Stream buffer and stream control messages: a host image buffer on its way to a camera's receiver and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <hx/hx.h>

#include "callback/callback_message_ids.h"
#include "common/message_id_ranges.h"
#include "hlv_thread/message.h"
#include "hlv_thread/sync_message.h"

namespace halvex::camera {
class CameraServices;
} // namespace halvex::camera

namespace halvex::callback {

// The payload of every stream buffer message. Library code reads and writes only the copy of
// the host's record taken at construction; the host's own record is written by copyBack(),
// which the Callback thread calls just before it hands the record to the host. Like its
// message, it is touched by one thread at a time.
class HxStreamBuffer {
public:
    // hostRecord may be NULL (a buffer-less live switch). A record whose version is not
    // HX_API_VERSION_MAJ.HX_API_VERSION_MIN is logged and refused with RuntimeError
    // "Wrong API version". A service that has gone leaves the name empty and the address 0.
    HxStreamBuffer(HX_READ_STREAM* hostRecord, const std::shared_ptr<camera::CameraServices>& service,
                   HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
    virtual ~HxStreamBuffer();
    HxStreamBuffer(const HxStreamBuffer&) = delete;
    HxStreamBuffer& operator=(const HxStreamBuffer&) = delete;

    void* buffer() const;
    // The usable length of the buffer: its size, capped at 0x7FFFFFFF.
    std::size_t bufferSize() const;
    HX_CLIENT_HANDLE clientHandle() const;
    HX_CAMERA_HANDLE cameraHandle() const;
    HX_READ_STREAM* hostRecord() const;
    const HX_READ_STREAM& record() const;
    uint32_t cameraAddress() const;
    const std::string& cameraName() const;
    // The camera's service, or empty when it has gone.
    std::shared_ptr<camera::CameraServices> service() const;

    // Writes the four result fields of the copy.
    void setResults(uint32_t imageLength, uint32_t frameId, uint32_t status, uint32_t receivedLength);
    // Gives the buffer back unfilled: ERROR and LAST added to the status, lengths and frame id 0.
    void release();
    // Writes the whole copy over the host's record (nothing without one).
    void copyBack() const;

    // Buffer-less live message: true switches the live stream on. Download messages carry true.
    bool enable = false;
    // The message asks to stop or cancel the stream instead of adding a buffer.
    bool stop = false;
    // A receiver gave the buffer back without filling it.
    bool released = false;

private:
    HX_READ_STREAM* hostRecord_;
    HX_READ_STREAM copy_{};
    uint32_t cameraAddress_ = 0;
    std::string cameraName_;
    std::weak_ptr<camera::CameraServices> service_;
    HX_CLIENT_HANDLE client_;
    HX_CAMERA_HANDLE camera_;
};

// A stream buffer message, asynchronous (thread::Message) or synchronous
// (thread::SyncMessage). The stream kind is the identifier: DOWNLOAD_STREAM_MSG,
// PLAYBACK_STREAM_MSG or LIVE_STREAM_MSG.
template <class MessageBase>
class HxStream : public MessageBase, public HxStreamBuffer {
public:
    HxStream(uint32_t streamKind, HX_READ_STREAM* hostRecord, const std::shared_ptr<camera::CameraServices>& service,
             HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
        : HxStreamBuffer(hostRecord, service, client, camera)
    {
        this->req = streamKind;
    }
};

// The stream buffer part of any message; nullptr when the message is not a stream buffer message.
HxStreamBuffer* streamBufferOf(thread::Message* message);
// True for the three stream kinds.
bool isStreamKind(uint32_t req);

// The payload of a stream control message, with which the stream operations drive a receiver.
class StreamControlRequest {
public:
    enum Command : uint32_t { ENABLE_PARSER = 0, PAUSE_STREAM = 1, SHUTDOWN = 2, TEST_PACKET = 3 };

    // flag: ENABLE_PARSER 1 enables, 0 disables; PAUSE_STREAM 1 runs, 0 pauses; otherwise 1.
    // protocol: for ENABLE_PARSER the stream kind whose queue to fill, else INTERNAL_START.
    StreamControlRequest(uint32_t commandCode, uint8_t flagValue, uint32_t protocolKind);
    virtual ~StreamControlRequest();

    uint32_t command;
    uint8_t flag;
    uint32_t protocol;
};

template <class MessageBase>
class StreamControl : public MessageBase, public StreamControlRequest {
public:
    StreamControl(uint32_t commandCode, uint8_t flagValue, uint32_t protocolKind = message_ids::INTERNAL_START)
        : StreamControlRequest(commandCode, flagValue, protocolKind)
    {
        this->req = message_ids::STREAM_CONTROL_MSG;
    }
};

// The stream control part of any message; nullptr when it is not a stream control message.
StreamControlRequest* streamControlOf(thread::Message* message);

} // namespace halvex::callback
