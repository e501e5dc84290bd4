// Camera family codes: the two-letter product-line codes in a model text that decide the family.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace halvex::registers {

enum class CameraFamily { Tarrow, Morvane };

struct FamilyCode {
    std::string_view code; // two letters, matched case-sensitively
    CameraFamily family;
};

// Bytes read from the model name address to decide the family: one default-length memory read.
inline constexpr std::size_t MODEL_WINDOW_SIZE = 536;

// The codes in the order they are tried: both Tarrow codes before the Morvane code, so a text
// that holds codes of both families is a Tarrow camera.
std::span<const FamilyCode> familyCodes();

// The family named by the first code (in table order) found anywhere in the window, NUL bytes
// and all; nothing when the window holds no code.
std::optional<CameraFamily> familyFromWindow(std::span<const uint8_t> window);

// True when the text contains any family code (the camera refuses such texts outside its model
// name, since they would make the family ambiguous).
bool containsFamilyCode(std::string_view text);

// "Tarrow" or "Morvane".
std::string_view familyName(CameraFamily family);

} // namespace halvex::registers
