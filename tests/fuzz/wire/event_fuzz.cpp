// Feeds arbitrary datagrams to the event decoder and checks that an accepted event survives a
// round trip.
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "wire/event_packet.h"

using namespace halvex::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> in(data, size);
    const EventDecodeResult result = decodeEventData(in);
    (void)isEventOpening(in);
    (void)toString(result.check);
    if (result.check != EventCheck::Ok) {
        return 0;
    }
    FUZZ_CHECK(size >= kEventDatagramSize);
    const EventDecodeResult again = decodeEventData(encodeEventData(result.event));
    FUZZ_CHECK(again.check == EventCheck::Ok);
    FUZZ_CHECK(again.event.eventId == result.event.eventId && again.event.value == result.event.value);
    (void)toString(result.event);
    return 0;
}
