// How a stream receiver names itself in log lines: its class, its stream, and the camera and
// local port it reads from.
#pragma once

#include <cstdint>
#include <string>

namespace halvex::stream {

// The "camera:port" text changes once, when the receiver learns its local port; parts that log
// with it keep a reference to the text, which lives as long as the label.
//
// Threads: built on the owner's thread; setLocalPort on whichever thread opens the receiver's
// socket (the creating thread, or the receiver's own when it re-opens a connection), the texts
// wherever the receiver logs.
class ReceiverLabel {
public:
    // `className` names the receiver ("TcpStream"), `rxName` its stream ("TCP Stream"); both are
    // constant texts.
    ReceiverLabel(uint32_t cameraAddress, const char* className, const char* rxName);

    const char* className() const;
    const char* rxName() const;
    uint32_t cameraAddress() const;
    // The camera's address alone, as the lines written when no port may be known name it.
    std::string cameraText() const;
    // "camera:port"; the port is the receiver's local one (0 until known).
    const char* where() const;
    const std::string& whereText() const;
    void setLocalPort(uint16_t port);

private:
    const uint32_t cameraAddress_;
    const char* const className_;
    const char* const rxName_;
    std::string where_;
};

} // namespace halvex::stream
