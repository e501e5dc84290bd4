// Which requests the control channel may send again when their answer is late: those the camera
// can take twice without a second effect.
#pragma once

#include <cstdint>
#include <span>

#include "wire/register_pair.h"

namespace halvex::control {

// A register write may repeat when the register holds a setting: writing the value again leaves
// the camera as the first write did. Command, trigger, save, download and stream starts, control
// privilege, packet-size trials and registers this table does not know go out once. The stream
// control register repeats only for pause and resume, which are states rather than actions.
bool repeatableWrite(uint32_t address, uint32_t value);
// Every pair of a multi-register write must repeat for the write to.
bool repeatableWrite(std::span<const wire::RegisterPair> pairs);
// A memory read may repeat unless it reads a document the camera hands out in pieces (each read
// takes the next piece, so a repeat would skip one).
bool repeatableMemoryRead(uint32_t start);

} // namespace halvex::control
