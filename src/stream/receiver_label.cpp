// How a stream receiver names itself in log lines: its class, its stream, and the camera and
// local port it reads from.
#include "stream/receiver_label.h"

#include "platform/ipv4_endpoint.h"

namespace halvex::stream {

ReceiverLabel::ReceiverLabel(uint32_t cameraAddress, const char* className, const char* rxName)
    : cameraAddress_(cameraAddress), className_(className), rxName_(rxName),
      where_(platform::ipv4ToText(cameraAddress) + ":0")
{
}

const char* ReceiverLabel::className() const
{
    return className_;
}

const char* ReceiverLabel::rxName() const
{
    return rxName_;
}

uint32_t ReceiverLabel::cameraAddress() const
{
    return cameraAddress_;
}

std::string ReceiverLabel::cameraText() const
{
    return platform::ipv4ToText(cameraAddress_);
}

const char* ReceiverLabel::where() const
{
    return where_.c_str();
}

const std::string& ReceiverLabel::whereText() const
{
    return where_;
}

void ReceiverLabel::setLocalPort(uint16_t port)
{
    where_ = platform::ipv4ToText(cameraAddress_) + ":" + std::to_string(port);
}

} // namespace halvex::stream
