// Register cache: the last value read from the camera for each register address it holds.
#pragma once

#include <cstdint>
#include <map>

namespace halvex::registers {

// Reads go through operator[] on purpose: an address that is not cached yet reads as 0 and is
// added, so the owner's next refresh fetches it from the camera.
using RegisterCache = std::map<uint32_t, uint32_t>;

// A cached value for computing from, 0 for an address not cached; unlike operator[] it never adds
// the address.
inline uint32_t cachedValue(const RegisterCache& cache, uint32_t address)
{
    const auto found = cache.find(address);
    return found == cache.end() ? 0 : found->second;
}

// When each cached value was known (control::orderStamp): the moment its read was sent, or its
// event arrived. A value known earlier never replaces one known later.
using RegisterStamps = std::map<uint32_t, uint64_t>;

} // namespace halvex::registers
