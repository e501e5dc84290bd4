// Stream fault decisions.
#include "sim/faults/stream_fault_injector.h"

#include <utility>

namespace hxsim {
namespace {

// Keeps the stream's generator apart from those of the control, event and discovery channels.
constexpr uint64_t kStreamSalt = 0x53545245414D0001ull;

} // namespace

StreamFaultInjector::StreamFaultInjector(const StreamFaults& faults, uint64_t seed)
    : faults_(faults), random_(FaultRandom(seed ^ kStreamSalt).next())
{
}

void StreamFaultInjector::apply(std::vector<std::vector<uint8_t>>& packets)
{
    if (!faults_.any()) {
        return;
    }
    std::vector<std::vector<uint8_t>> out;
    out.reserve(packets.size());
    bool swapPending = false;
    for (std::vector<uint8_t>& packet : packets) {
        const bool drop = random_.chance(faults_.drop);
        const bool truncate = random_.chance(faults_.truncate);
        const bool corrupting = random_.chance(faults_.corrupt);
        const bool reorder = random_.chance(faults_.reorder);
        const uint64_t keep = random_.next();
        const uint64_t start = random_.next();
        const uint64_t flips = random_.next();
        const uint64_t bits = random_.next();
        if (drop || packet.empty()) {
            continue;
        }
        if (truncate && packet.size() > 1) {
            packet.resize(1 + keep % (packet.size() - 1));
        }
        if (corrupting) {
            corrupt(packet, start, flips, bits);
        }
        out.push_back(std::move(packet));
        if (swapPending) {
            std::swap(out[out.size() - 2], out.back());
            swapPending = false;
        } else {
            swapPending = reorder;
        }
    }
    packets = std::move(out);
}

// One bit in each of one to three neighbouring bytes, so the packet always changes.
void StreamFaultInjector::corrupt(std::vector<uint8_t>& packet, uint64_t start, uint64_t flips, uint64_t bits) const
{
    const std::size_t size = packet.size();
    const std::size_t first = static_cast<std::size_t>(start % size);
    const std::size_t count = 1 + static_cast<std::size_t>(flips % std::min<std::size_t>(3, size));
    for (std::size_t i = 0; i < count; ++i) {
        packet[(first + i) % size] ^= static_cast<uint8_t>(1u << ((bits >> (3 * i)) & 7));
    }
}

std::optional<std::size_t> StreamFaultInjector::cutPoint(std::size_t streamBytes)
{
    const bool cut = random_.chance(faults_.cut);
    const uint64_t where = random_.next();
    if (!cut || streamBytes < 2) {
        return std::nullopt;
    }
    return 1 + static_cast<std::size_t>(where % (streamBytes - 1));
}

} // namespace hxsim
