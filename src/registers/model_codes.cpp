// Camera family codes and the search of a model window for them.
#include "registers/model_codes.h"

#include <algorithm>
#include <array>

namespace halvex::registers {

namespace {

constexpr std::array<FamilyCode, 3> codes{{
    {"qT", CameraFamily::Tarrow},
    {"qX", CameraFamily::Tarrow},
    {"qM", CameraFamily::Morvane},
}};

bool holds(std::span<const uint8_t> bytes, std::string_view code)
{
    const auto found = std::search(bytes.begin(), bytes.end(), code.begin(), code.end(),
                                   [](uint8_t byte, char letter) { return byte == static_cast<uint8_t>(letter); });
    return found != bytes.end();
}

std::span<const uint8_t> asBytes(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

std::span<const FamilyCode> familyCodes()
{
    return codes;
}

std::optional<CameraFamily> familyFromWindow(std::span<const uint8_t> window)
{
    for (const FamilyCode& entry : codes) {
        if (holds(window, entry.code)) {
            return entry.family;
        }
    }
    return std::nullopt;
}

bool containsFamilyCode(std::string_view text)
{
    return familyFromWindow(asBytes(text)).has_value();
}

std::string_view familyName(CameraFamily family)
{
    return family == CameraFamily::Tarrow ? "Tarrow" : "Morvane";
}

} // namespace halvex::registers
