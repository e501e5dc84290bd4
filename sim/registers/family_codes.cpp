// The stand-in camera's family codes and the search of a text for them.
#include "sim/registers/family_codes.h"

#include <array>

namespace halvex::sim {
namespace {

constexpr std::array<FamilyCode, 3> kCodes{{
    {"qT", CameraFamily::Tarrow},
    {"qX", CameraFamily::Tarrow},
    {"qM", CameraFamily::Morvane},
}};

} // namespace

std::span<const FamilyCode> familyCodes()
{
    return kCodes;
}

std::optional<CameraFamily> familyOf(std::string_view text)
{
    for (const FamilyCode& entry : kCodes) {
        if (text.find(entry.code) != std::string_view::npos) {
            return entry.family;
        }
    }
    return std::nullopt;
}

bool containsFamilyCode(std::string_view text)
{
    return familyOf(text).has_value();
}

std::string_view familyName(CameraFamily family)
{
    return family == CameraFamily::Tarrow ? "Tarrow" : "Morvane";
}

} // namespace halvex::sim
