// The UDP receiver's hold on the camera's stream socket and the channel that lends it.
#include "stream/udp_stream_socket.h"

#include <utility>

#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "platform/poll_wait.h"

namespace halvex::stream {

namespace {

std::unique_ptr<platform::PollSet> waitSetOf(const thread::Wake& wake, const control::UdpSocket& socket)
{
    auto waitSet = std::make_unique<platform::PollSet>();
    waitSet->add(wake);
    waitSet->add(socket.fd());
    return waitSet;
}

} // namespace

UdpStreamSocket::UdpStreamSocket(std::shared_ptr<control::HxComm> channel)
    : channel_(std::move(channel)), socket_(channel_ ? channel_->streamSocket() : nullptr)
{
}

UdpStreamSocket::~UdpStreamSocket() = default;

control::UdpSocket* UdpStreamSocket::get() const
{
    return socket_;
}

uint16_t UdpStreamSocket::port() const
{
    return socket_ != nullptr ? socket_->port() : uint16_t{0};
}

void UdpStreamSocket::watch(const thread::Wake& wake)
{
    waitSet_ = waitSetOf(wake, *socket_);
}

platform::PollSet& UdpStreamSocket::waitSet() const
{
    return *waitSet_;
}

bool UdpStreamSocket::takeUp(std::shared_ptr<control::HxComm> channel, const thread::Wake& wake)
{
    control::UdpSocket* socket = channel ? channel->streamSocket() : nullptr;
    if (socket == nullptr || !socket->valid())
        return false;
    // The new wait set is made before anything changes, so a failure to make it leaves the old
    // socket read.
    waitSet_ = waitSetOf(wake, *socket);
    socket_ = socket;
    channel_ = std::move(channel);
    return true;
}

void UdpStreamSocket::stopWatching()
{
    waitSet_.reset();
}

} // namespace halvex::stream
