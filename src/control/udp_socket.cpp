// One non-blocking IPv4 UDP socket of a camera's channel: the parts that do not touch the system.
#include "control/udp_socket.h"

bool UDPSocket::valid() const
{
    return fd_.valid();
}

HX_PLATFORM::Descriptor UDPSocket::fd() const
{
    return fd_.get();
}

uint16_t UDPSocket::port() const
{
    return port_;
}

uint32_t UDPSocket::lastError() const
{
    return lastError_;
}

int UDPSocket::receiveBuffer() const
{
    return grantedReceiveBuffer_;
}

void UDPSocket::rememberError(int error)
{
    lastError_ = static_cast<uint32_t>(error);
}
