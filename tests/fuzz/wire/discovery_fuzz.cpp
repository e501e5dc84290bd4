// Feeds arbitrary datagrams to the discovery decoders and checks that an accepted reply
// survives a round trip and that judging it never fails.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "wire/discovery_packet.h"

using namespace halvex::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> in(data, size);
    (void)decodeDiscoveryCmd(in);
    const bool acceptable = isDiscoveryReply(in);
    const std::optional<DiscoveryAck> reply = decodeDiscoveryAck(in);
    FUZZ_CHECK(!acceptable || reply);
    if (!reply) {
        return 0;
    }
    const std::vector<uint8_t> encoded = encodeDiscoveryAck(*reply);
    FUZZ_CHECK(encoded.size() == kDiscoveryAckSize);
    const std::optional<DiscoveryAck> again = decodeDiscoveryAck(encoded);
    FUZZ_CHECK(again && encodeDiscoveryAck(*again) == encoded);
    FUZZ_CHECK(again->userDefinedName == reply->userDefinedName);
    (void)judgeDiscoveryReply(*reply);
    (void)toString(parseDeviceVersion(reply->deviceVersion));
    (void)toString(*reply);
    return 0;
}
