// Small text helpers shared by the packet codecs' toString functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace halvex::wire {

// "0x" followed by at least `digits` upper-case hexadecimal digits.
std::string hexText(uint64_t value, int digits);

// Dotted text of an IPv4 address held in network order (its bytes in memory are the address).
std::string dottedText(uint32_t networkOrderAddress);

// Up to `limit` bytes as space-separated hexadecimal pairs, "..." when there are more.
std::string bytesText(std::span<const uint8_t> data, std::size_t limit);

} // namespace halvex::wire
