// Morvane channels: JSON texts read from and written to the second family's memory registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "control/register_channel.h"

namespace halvex::morvane::channels {

// Reads the text a camera keeps at `reg` in one default-length memory read, trying again (100 ms
// apart, ten reads in all) while the camera is busy or slow to answer. The text ends at its first
// NUL. Nothing when it cannot be had; `result` gets the last result (0 on success).
std::optional<std::string> readText(control::RegisterChannel& channel, uint32_t reg, uint32_t& result);

// Rewinds the text at `reg` (writes 0 to it) and reads it in 512-byte chunks until a chunk
// ends short. Texts beyond kMaxChunkedText are refused. `result` gets the failing result, or 0.
enum class ChunkedFailure { None, Rewind, Read, TooLong };
struct ChunkedText {
    std::string text;
    ChunkedFailure failure = ChunkedFailure::None;
    uint32_t result = 0;
};
ChunkedText readChunkedText(control::RegisterChannel& channel, uint32_t reg);

// Writes the text's bytes (no NUL) to `reg`; at most one memory write long. The protocol result.
uint32_t writeText(control::RegisterChannel& channel, uint32_t reg, const std::string& text);

inline constexpr uint32_t kChunkBytes = 512;
inline constexpr std::size_t kMaxChunkedText = 64 * 1024;
inline constexpr int kTextReads = 10;
inline constexpr uint32_t kBusyResult = 12;

} // namespace halvex::morvane::channels
