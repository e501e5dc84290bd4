// Where the library's message identifiers lie: those that cross between components, and where private ones start.
#pragma once

#include <cstdint>

// Identifiers from 0x30000 (the thread framework's first user message) to 0x3FFFF cross between
// components, each named once in a header of the layer that owns it; from INTERNAL_START on they
// are private to one thread class, so the same value means different things in different classes.
namespace halvex::message_ids {

enum : uint32_t {
    INTERNAL_START = 0x40000,
};

} // namespace halvex::message_ids
