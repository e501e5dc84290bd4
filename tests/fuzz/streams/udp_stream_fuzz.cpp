// Drives the UDP image receiver's parser with fuzzer-scripted datagrams (leaders, payloads,
// trailers, test packets and raw bytes, with chosen block ids, packet ids, sizes and order)
// against host buffers lent and taken back on the way; checks that no byte lands outside a
// buffer and that every buffer comes back exactly once.
#include <vector>

#include "stream/udp_stream.h"
#include "stream_harness.h"

using namespace halvex::stream;

using stream_fuzz::FedUdpStream;
using stream_fuzz::Input;
namespace wire = halvex::wire;

namespace {

// The script's camera: mostly sends what a camera would, in the order the fuzzer picks.
class Sender {
public:
    std::vector<uint8_t> leader(Input& in)
    {
        blockId_ = in.byte() % 4;
        packetId_ = in.byte() < 224 ? 0 : in.u32() & wire::kPacketIdMask;
        const uint8_t shape = in.byte();
        uint32_t length = shape % 4 == 0 ? in.u32() : in.u16();
        if (shape % 4 == 1)
            length += 0x10000u * in.byte();
        wire::StreamLeader leader = wire::makeFileLeader(blockId_, packetId_, length, in.byte(), 0);
        stream_fuzz::spoilLeader(leader, shape, in);
        std::vector<uint8_t> bytes = wire::encodeStreamLeader(leader);
        if (shape >> 2 == 5)
            bytes.resize(in.byte() % bytes.size());
        return bytes;
    }
    std::vector<uint8_t> payload(Input& in)
    {
        const wire::StreamHeader header{0, blockFrom(in), wire::packet_format::kPayload, packetIdFrom(in)};
        const std::size_t length = in.byte() % 8 == 0 ? in.byte() : in.u16() % (UdpStream::MAX_DATAGRAM + 1);
        const std::vector<uint8_t> data(length, in.byte());
        return wire::encodeStreamPayload(header, data);
    }
    std::vector<uint8_t> trailer(Input& in)
    {
        wire::StreamTrailer trailer;
        trailer.header.blockId = blockFrom(in);
        trailer.header.packetId = packetIdFrom(in);
        if (in.byte() % 8 == 0)
            trailer.payloadType = in.byte();
        return wire::encodeStreamTrailer(trailer);
    }
    static std::vector<uint8_t> raw(Input& in)
    {
        if (in.byte() % 4 == 0)
            return wire::encodeTestPacket(in.byte() % 2 == 0 ? UdpStream::JUMBO_PACKET : UdpStream::STANDARD_PACKET);
        const std::span<const uint8_t> bytes = in.bytes(in.byte());
        return {bytes.begin(), bytes.end()};
    }

private:
    // The block and packet the image in progress expects next, unless the script says otherwise.
    uint16_t blockFrom(Input& in) { return in.byte() < 240 ? blockId_ : in.byte(); }
    uint32_t packetIdFrom(Input& in)
    {
        const uint8_t choice = in.byte();
        if (choice < 208)
            return packetId_ = wire::nextPacketId(packetId_);
        if (choice < 240)
            return wire::nextPacketId(packetId_ + choice % 3);
        return in.u32() & wire::kPacketIdMask;
    }

    uint16_t blockId_ = 0;
    uint32_t packetId_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FedUdpStream receiver;
    Sender camera;
    const auto feed = [&](uint8_t action, Input& in) {
        if (action == 3)
            receiver.handleDatagram(camera.leader(in));
        else if (action == 4)
            receiver.handleDatagram(camera.trailer(in));
        else if (action == 5)
            receiver.handleDatagram(Sender::raw(in));
        else
            receiver.handleDatagram(camera.payload(in));
    };
    stream_fuzz::runScript(data, size, receiver, feed, [] {});
    return 0;
}
