// Drives the UDP image receiver's parser with coalesced receives as the system could hand them
// over: runs of the camera's payload packets (some foreign, mis-numbered or cut short), cut off
// anywhere, scattered over pieces of any size, with a segment size that fits them, is 0, huge,
// tiny or does not divide them. Checks that the cut datagrams tile the receive exactly, that the
// scattered bytes read back as they arrived, and (through the harness) that no byte lands outside
// a host buffer and every buffer comes back exactly once.
#include <numeric>
#include <vector>

#include "stream/coalesced_datagrams.h"
#include "stream/scattered_bytes.h"
#include "stream/udp_stream.h"
#include "stream_harness.h"

using namespace halvex::stream;

using stream_fuzz::FedUdpStream;
using stream_fuzz::Input;
namespace wire = halvex::wire;

namespace {

// The script's camera: a leader, then its image's payload packets in coalesced receives.
class Camera {
public:
    std::vector<uint8_t> leader(Input& in)
    {
        blockId_ = uint16_t(1 + in.byte() % 4);
        packetId_ = 0;
        const uint32_t length = in.byte() % 4 == 0 ? in.u32() : in.u16() + 0x10000u * (in.byte() % 8);
        return wire::encodeStreamLeader(wire::makeFileLeader(blockId_, packetId_, length, in.byte(), 0));
    }

    // A run of payload packets of one size, some spoiled, back to back.
    std::vector<uint8_t> packets(Input& in, std::size_t& packetSize)
    {
        const std::size_t payload = in.byte() % 4 == 0 ? 8964 : 1 + in.u16() % 9300;
        packetSize = wire::kStreamHeaderSize + payload;
        const std::size_t count = 1 + in.byte() % 70;
        std::vector<uint8_t> run;
        for (std::size_t i = 0; i < count && run.size() < 2 * CoalescedDatagrams::MAX_RECEIVE; ++i) {
            const uint8_t spoil = in.byte();
            std::vector<uint8_t> packet;
            if (spoil < 16) { // a foreign datagram of the same size
                const std::span<const uint8_t> bytes = in.bytes(packetSize);
                packet.assign(bytes.begin(), bytes.end());
                packet.resize(packetSize, spoil);
            } else {
                const uint32_t id =
                    spoil < 32 ? in.u32()& wire::kPacketIdMask : packetId_ = wire::nextPacketId(packetId_);
                const wire::StreamHeader header{0, spoil < 48 ? uint16_t(in.u16()) : blockId_,
                                                wire::packet_format::kPayload, id};
                packet = wire::encodeStreamPayload(header, std::vector<uint8_t>(payload, uint8_t(i)));
            }
            if (spoil >= 248) // a shorter one: the system ends a run there
                packet.resize(in.u16() % packetSize);
            run.insert(run.end(), packet.begin(), packet.end());
        }
        return run;
    }

private:
    uint16_t blockId_ = 1;
    uint32_t packetId_ = 0;
};

std::size_t segmentSizeFrom(Input& in, std::size_t packetSize)
{
    switch (in.byte() % 8) {
    case 0: return 0;
    case 1: return in.u16();
    case 2: return in.byte();
    case 3: return std::size_t{1} << (in.byte() % 40);
    default: return packetSize;
    }
}

// The receive scattered over pieces of the script's sizes, as a receive into the host buffer
// lays it out; the pieces hold at least what arrived.
std::vector<std::span<uint8_t>> scatter(std::vector<uint8_t>& received, Input& in)
{
    std::vector<std::span<uint8_t>> pieces;
    std::size_t placed = 0;
    while (placed < received.size()) {
        const std::size_t size = std::min<std::size_t>(received.size() - placed, in.byte() % 4 == 0 ? 8 : in.u16());
        pieces.emplace_back(received.data() + placed, size == 0 ? received.size() - placed : size);
        placed += pieces.back().size();
    }
    return pieces;
}

// The datagrams tile the receive: in order, back to back, all of the segment size but the last.
void checkTiling(const CoalescedDatagrams& datagrams, std::size_t received)
{
    const std::size_t count = datagrams.count();
    if (datagrams.fault() != nullptr || received == 0) {
        FUZZ_CHECK(count == 0);
        return;
    }
    FUZZ_CHECK(count >= 1 && count <= CoalescedDatagrams::MAX_SEGMENTS);
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(datagrams.offset(i) == next);
        FUZZ_CHECK(datagrams.length(i) > 0 && datagrams.length(i) <= UdpStream::MAX_DATAGRAM);
        FUZZ_CHECK(i + 1 == count || datagrams.length(i) == datagrams.segmentSize());
        next += datagrams.length(i);
    }
    FUZZ_CHECK(next == received);
}

void feedCoalesced(FedUdpStream& receiver, Camera& camera, Input& in)
{
    std::size_t packetSize = 0;
    const std::vector<uint8_t> sent = camera.packets(in, packetSize);
    const std::size_t segment = segmentSizeFrom(in, packetSize);
    // Cut anywhere, or kept whole (up to what one receive holds and a little beyond).
    const std::size_t cut = in.byte() % 2 == 0 ? in.u32() % (sent.size() + 1) : sent.size();
    std::vector<uint8_t> received(sent.begin(), sent.begin() + std::ptrdiff_t(cut));
    const std::vector<std::span<uint8_t>> pieces = scatter(received, in);
    const ScatteredBytes bytes(pieces, received.size());
    const CoalescedDatagrams datagrams(received.size(), segment, UdpStream::MAX_DATAGRAM);
    checkTiling(datagrams, received.size());
    if (datagrams.count() == 0)
        return;
    const std::size_t first = in.byte() % datagrams.count();
    const std::size_t from = datagrams.offset(first);
    std::vector<uint8_t> whole(received.size() - from);
    FUZZ_CHECK(bytes.copyOut(from, whole) == whole.size());
    FUZZ_CHECK(std::equal(whole.begin(), whole.end(), sent.begin() + std::ptrdiff_t(from)));
    const std::span<const uint8_t> inPlace = bytes.contiguous(from, whole.size());
    FUZZ_CHECK(inPlace.empty() || std::equal(inPlace.begin(), inPlace.end(), whole.begin()));
    for (std::size_t i = first; i < datagrams.count(); ++i) {
        const std::span<const uint8_t> datagram = datagrams.datagram(whole, from, i);
        FUZZ_CHECK(datagram.size() == datagrams.length(i));
        receiver.handleDatagram(datagram);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FedUdpStream receiver;
    Camera camera;
    const auto feed = [&](uint8_t action, Input& in) {
        if (action == 3)
            receiver.handleDatagram(camera.leader(in));
        else
            feedCoalesced(receiver, camera, in);
    };
    stream_fuzz::runScript(data, size, receiver, feed, [] {});
    return 0;
}
