// Settings of the seeded faults on a camera's image stream, and how options name them.
#pragma once

#include <string>
#include <string_view>

namespace hxsim {

// Probabilities in [0, 1]. The packet faults apply to each packet of an image (over TCP: to the
// leader, each payload piece and the trailer); `cut` applies to each image sent over TCP.
struct StreamFaults {
    double drop = 0;     // the packet is not sent
    double reorder = 0;  // the packet changes places with the one after it
    double truncate = 0; // the packet is cut short
    double corrupt = 0;  // one bit flipped in each of one to three neighbouring bytes
    double cut = 0;      // the TCP connection is reset part-way through the image

    bool any() const { return drop > 0 || reorder > 0 || truncate > 0 || corrupt > 0 || cut > 0; }
};

// Sets one kind ("drop", "reorder", "truncate", "corrupt" or "cut") to a probability. Empty on
// success, else what is wrong.
std::string applyStreamFault(StreamFaults& faults, std::string_view kind, double value);

} // namespace hxsim
