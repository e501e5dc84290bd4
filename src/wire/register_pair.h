// The (register address, value) pair every layer reads, writes and reports registers with.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace halvex::wire {

struct RegisterPair {
    uint32_t address = 0;
    uint32_t value = 0;
    // Ordered by address, then value, so pairs can key ordered sets.
    auto operator<=>(const RegisterPair&) const = default;
};

// Pairs in the order they are read, written or reported.
using RegisterPairs = std::vector<RegisterPair>;

// "(0xADDR, 0xVALUEVAL)": the form logs and test failures show a pair in.
std::string toString(const RegisterPair& pair);
std::ostream& operator<<(std::ostream& out, const RegisterPair& pair);

} // namespace halvex::wire
