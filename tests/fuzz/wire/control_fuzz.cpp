// Feeds arbitrary datagrams to every control-packet decoder, host and camera side, and checks
// that what they accept re-encodes to the same bytes and never points outside the input.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "wire/control_packet.h"

using namespace halvex::wire;

namespace {

using Bytes = std::span<const uint8_t>;

bool inside(Bytes part, Bytes whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// The datagram up to the end its length field claims.
std::vector<uint8_t> claimed(Bytes datagram, uint16_t length)
{
    return std::vector<uint8_t>(datagram.begin(), datagram.begin() + kControlHeaderSize + length);
}

void checkAcks(Bytes in)
{
    if (const auto ack = decodeReadRegAck(in)) {
        FUZZ_CHECK(ack->values.size() == ack->header.length / 4u);
        if (ack->header.length % 4 == 0) {
            FUZZ_CHECK(encodeReadRegAck(ack->header.status, ack->header.ackId, ack->values) ==
                       claimed(in, ack->header.length));
        }
        (void)toString(*ack);
    }
    if (const auto ack = decodeWriteRegAck(in)) {
        FUZZ_CHECK(ack->header.length >= 4);
        (void)toString(*ack);
    }
    if (const auto ack = decodeReadMemAck(in)) {
        FUZZ_CHECK(inside(ack->data, in));
        FUZZ_CHECK(ack->data.size() + 4 == ack->header.length);
        FUZZ_CHECK(encodeReadMemAck(ack->header.status, ack->header.ackId, ack->address, ack->data) ==
                   claimed(in, ack->header.length));
        (void)toString(*ack);
    }
    if (const auto ack = decodeWriteMemAck(in)) {
        (void)toString(*ack);
    }
}

void checkCommands(Bytes in)
{
    if (const auto command = decodeReadRegCmd(in)) {
        const std::vector<uint8_t> again = encodeReadRegCmd(command->addresses, command->header.requestId);
        const std::vector<uint8_t> original = claimed(in, command->header.length);
        FUZZ_CHECK(std::equal(again.begin() + 2, again.end(), original.begin() + 2, original.end()));
        (void)toString(*command);
    }
    if (const auto command = decodeWriteRegCmd(in)) {
        FUZZ_CHECK(encodeWriteRegCmd(command->pairs, command->header.ackRequired(), command->header.requestId).size() ==
                   kControlHeaderSize + command->header.length);
        (void)toString(*command);
    }
    if (const auto command = decodeReadMemCmd(in)) {
        FUZZ_CHECK(command->header.length == 8);
        (void)toString(*command);
    }
    if (const auto command = decodeWriteMemCmd(in)) {
        FUZZ_CHECK(inside(command->data, in));
        FUZZ_CHECK(command->data.size() + 4 == command->header.length);
        (void)toString(*command);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Bytes in(data, size);
    checkAcks(in);
    checkCommands(in);
    return 0;
}
