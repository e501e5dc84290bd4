// Drives the TCP image receiver's parser with a fuzzer-scripted byte stream (leaders, image
// bytes, trailers and raw bytes) that reaches it cut at fuzzer-chosen boundaries, against host
// buffers lent and taken back on the way; checks that no byte lands outside a buffer and that
// every buffer comes back exactly once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "control/register_channel.h"
#include "stream/tcp_stream.h"
#include "stream_harness.h"

using namespace halvex::control;
using namespace halvex::stream;

using stream_fuzz::Input;
using stream_fuzz::kCamera;
namespace wire = halvex::wire;

namespace {

// The receiver without its connection: the stream comes from the script, `cut` bytes a read at
// most, and only as far as the script has let it through.
class FedTcpStream : public TcpStream {
public:
    FedTcpStream() : TcpStream(kCamera, controlChannelFor(kCamera), 0) {}

    void append(std::span<const uint8_t> bytes) { stream_.insert(stream_.end(), bytes.begin(), bytes.end()); }
    void deliver(std::size_t count, std::size_t cut)
    {
        through_ += std::min(count, stream_.size() - through_);
        cut_ = std::max<std::size_t>(cut, 1);
        // A pass ends after a bounded number of steps, as on a connection that always has more.
        for (int pass = 0; pass < 64 && read_ < through_; ++pass)
            readStream();
        readStream();
    }

private:
    // Never reports the connection closed: that would reconnect over the network.
    ReadResult receive(uint8_t* into, std::size_t want, std::size_t& got) override
    {
        got = std::min({want, cut_, through_ - read_});
        if (got == 0)
            return ReadResult::Nothing;
        std::memcpy(into, stream_.data() + read_, got);
        read_ += got;
        return ReadResult::Data;
    }

    std::vector<uint8_t> stream_;
    std::size_t through_ = 0;
    std::size_t read_ = 0;
    std::size_t cut_ = 1;
};

std::vector<uint8_t> leader(Input& in, uint16_t blockId)
{
    const uint8_t shape = in.byte();
    const uint32_t length = shape % 4 == 0 ? in.u32() : in.u16() % 30000;
    // Arguments are read one statement at a time: their order within a call is unspecified.
    const uint32_t packetId = in.byte() < 224 ? 0 : in.byte();
    wire::StreamLeader leader = wire::makeFileLeader(blockId, packetId, length, in.byte(), 0);
    stream_fuzz::spoilLeader(leader, shape, in);
    return wire::encodeStreamLeader(leader);
}

std::vector<uint8_t> trailer(Input& in, uint16_t blockId)
{
    wire::StreamTrailer trailer;
    trailer.header.blockId = in.byte() < 240 ? blockId : in.byte();
    trailer.header.packetId = in.byte() < 240 ? 1 : in.u32() & wire::kPacketIdMask;
    if (in.byte() % 8 == 0)
        trailer.header.packetFormat = in.byte();
    return wire::encodeStreamTrailer(trailer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FedTcpStream receiver;
    uint16_t blockId = 0;
    const auto feed = [&](uint8_t action, Input& in) {
        if (action == 3) {
            receiver.append(leader(in, ++blockId));
        } else if (action == 4) {
            receiver.append(trailer(in, blockId));
        } else if (action == 5) {
            receiver.append(in.bytes(in.byte()));
        } else if (action == 6) {
            const std::size_t length = in.u16() % 12000;
            receiver.append(std::vector<uint8_t>(length, in.byte()));
        } else {
            const std::size_t count = in.byte() % 4 == 0 ? in.byte() : in.u16();
            receiver.deliver(count, in.byte() % 2 == 0 ? in.byte() : in.u16());
        }
    };
    stream_fuzz::runScript(data, size, receiver, feed, [&] { receiver.deliver(~std::size_t{0}, 4096); });
    return 0;
}
