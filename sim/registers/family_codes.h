// Camera family codes: the two-letter product-line codes in a camera's model text, which decide
// how the camera behaves and how hosts drive it. The camera's own copy, kept apart from the
// library's so that a test can compare the two.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace halvex::sim {

enum class CameraFamily { Tarrow, Morvane };

struct FamilyCode {
    std::string_view code; // two letters, matched case-sensitively
    CameraFamily family;
};

// The codes in the order hosts try them: both first-family codes before the second family's, so
// a text that holds codes of both families names the first.
std::span<const FamilyCode> familyCodes();

// The family of the first code (in table order) found anywhere in the text, NUL bytes and all;
// nothing when it holds none.
std::optional<CameraFamily> familyOf(std::string_view text);

// True when the text holds any family code: the camera refuses such texts outside its model,
// since they would make its family ambiguous to a host reading past the model.
bool containsFamilyCode(std::string_view text);

// "Tarrow" or "Morvane", for log lines.
std::string_view familyName(CameraFamily family);

} // namespace halvex::sim
