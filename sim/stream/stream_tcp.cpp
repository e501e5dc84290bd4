// TCP stream channel of a stand-in camera: what is the same on every platform.
#include "sim/stream/stream_tcp.h"

namespace hxsim {

// One piece of bytes goes out as a list of one, through the platform half's gathering send.
TcpStreamLink::SendResult TcpStreamLink::send(std::span<const uint8_t> bytes, std::size_t& sent)
{
    const SendPiece part{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    return send(std::span<const SendPiece>(&part, 1), sent);
}

} // namespace hxsim
