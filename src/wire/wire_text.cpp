// Small text helpers shared by the packet codecs' toString functions.
#include "wire/wire_text.h"

#include <cstdio>
#include <cstring>

namespace halvex::wire {

std::string hexText(uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string dottedText(uint32_t networkOrderAddress)
{
    uint8_t octets[4];
    std::memcpy(octets, &networkOrderAddress, sizeof octets);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

std::string bytesText(std::span<const uint8_t> data, std::size_t limit)
{
    std::string text;
    const std::size_t shown = data.size() < limit ? data.size() : limit;
    for (std::size_t i = 0; i < shown; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", data[i]);
        text += pair;
    }
    if (shown < data.size()) {
        text += " ...";
    }
    return text;
}

} // namespace halvex::wire
