// A picture a person can follow, for cameras started with --scene: a disc circling once every
// kCycle frames over a dim grid, and the frame number in digits in a band along the top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hxsim::FrameScene {

// Frames in one turn of the disc; a camera draws this many pictures once per image size.
constexpr uint32_t kCycle = 24;

// The samples of a picture: rows x columns, each `sampleBytes` bytes with the value in the first.
struct Grid {
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::size_t sampleBytes = 1;
};

// Rows at the top that hold the number; the rest of a picture is the same in every frame of its phase.
std::size_t bandRows(const Grid& grid);
// What every picture shares (the grid and the empty band), into all of `out`.
void drawBackground(const Grid& grid, std::span<uint8_t> out);
// The disc at phase `phase` (0 .. kCycle - 1) onto a background.
void drawDisc(uint32_t phase, const Grid& grid, std::span<uint8_t> out);
// The frame number in digits, into the band (the first bandRows rows of a picture).
void drawNumber(uint32_t frameNumber, const Grid& grid, std::span<uint8_t> band);

} // namespace hxsim::FrameScene
