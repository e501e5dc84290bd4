// Feeds arbitrary packets to the stream decoders and checks that leaders, trailers and payloads
// survive a round trip, that payload views stay inside the packet, and that checks never fail.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "wire/stream_packet.h"

using namespace halvex::wire;

namespace {

void checkLeader(std::span<const uint8_t> in)
{
    const std::optional<StreamLeader> leader = decodeStreamLeader(in);
    FUZZ_CHECK(leader.has_value() == (in.size() >= kMinStreamLeaderSize));
    if (!leader) {
        return;
    }
    const LeaderCheck check = checkStreamLeader(*leader, true);
    (void)checkStreamLeader(*leader, false);
    (void)sequenceNumberOf(*leader);
    const std::vector<uint8_t> encoded = encodeStreamLeader(*leader);
    FUZZ_CHECK(encoded.size() == kStreamLeaderSize);
    const std::optional<StreamLeader> again = decodeStreamLeader(encoded);
    FUZZ_CHECK(again && checkStreamLeader(*again, true) == check);
    FUZZ_CHECK(again->fileName == leader->fileName && again->imageLength == leader->imageLength);
    (void)toString(*leader);
}

void checkTrailerAndPayload(std::span<const uint8_t> in)
{
    if (const std::optional<StreamTrailer> trailer = decodeStreamTrailer(in)) {
        const uint32_t faults = checkStreamTrailer(*trailer, trailer->header.blockId, trailer->header.packetId);
        FUZZ_CHECK((faults & (trailer_fault::kBlockIdMismatch | trailer_fault::kPacketIdMismatch)) == 0);
        (void)trailerFaultsText(faults);
        (void)toString(*trailer);
    }
    if (const std::optional<StreamPayload> payload = decodeStreamPayload(in)) {
        FUZZ_CHECK(payload->data.size() + kStreamHeaderSize == in.size());
        FUZZ_CHECK(encodeStreamPayload(payload->header, payload->data) == std::vector<uint8_t>(in.begin(), in.end()));
        (void)toString(*payload);
    }
    (void)decodeTestPacket(in);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> in(data, size);
    checkLeader(in);
    checkTrailerAndPayload(in);
    return 0;
}
