// Seeded decisions for the stream faults: which packets of an image are dropped, swapped,
// shortened or corrupted, and where a TCP connection is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/faults/fault_injector.h"
#include "sim/faults/stream_faults.h"

namespace hxsim {

// One generator for the whole stream, seeded from the camera's seed apart from the other
// channels', and drawn the same number of times for every packet whatever the probabilities,
// so the same seed and the same images give the same faults.
class StreamFaultInjector {
public:
    StreamFaultInjector(const StreamFaults& faults, uint64_t seed);

    bool any() const { return faults_.any(); }
    // Applies the packet faults to one image's packets, leaving them in the order to send.
    void apply(std::vector<std::vector<uint8_t>>& packets);
    // For an image of `streamBytes` bytes on a TCP connection: the byte after which the
    // connection is cut (always inside the image), or nothing.
    std::optional<std::size_t> cutPoint(std::size_t streamBytes);

private:
    void corrupt(std::vector<uint8_t>& packet, uint64_t start, uint64_t flips, uint64_t bits) const;

    StreamFaults faults_;
    FaultRandom random_;
};

} // namespace hxsim
