// The scene a camera started with --scene draws.
#include "sim/frames/frame_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace hxsim::FrameScene {
namespace {

constexpr uint8_t kBackground = 40;
constexpr uint8_t kGridLine = 70;
constexpr uint8_t kDisc = 220;
constexpr uint8_t kBand = 10;
constexpr uint8_t kInk = 250;
// Digits 0-9 in 5 x 7 cells, one row per byte, the leftmost column in bit 4.
constexpr std::array<std::array<uint8_t, 7>, 10> kDigits{{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};
// The frame number and serial take the first samples of a frame; the digits start after them.
constexpr std::size_t kHeaderSamples = 8;

// Digit cells are this many samples per font dot: the number stays readable in large frames.
std::size_t dotSize(const Grid& grid)
{
    return std::max<std::size_t>(1, std::min(grid.rows / 64, grid.columns / 128));
}

void put(const Grid& grid, std::span<uint8_t> out, std::size_t row, std::size_t column, uint8_t value)
{
    const std::size_t at = (row * grid.columns + column) * grid.sampleBytes;
    if (at < out.size())
        out[at] = value;
}

} // namespace

std::size_t bandRows(const Grid& grid)
{
    const std::size_t rows = 9 * dotSize(grid);
    return rows <= grid.rows ? rows : 0;
}

void drawBackground(const Grid& grid, std::span<uint8_t> out)
{
    std::fill(out.begin(), out.end(), uint8_t{0});
    const std::size_t band = bandRows(grid);
    const std::size_t step = std::max<std::size_t>(8, std::min(grid.rows, grid.columns) / 8);
    for (std::size_t row = 0; row < grid.rows; ++row) {
        for (std::size_t column = 0; column < grid.columns; ++column) {
            const bool line = row % step == 0 || column % step == 0;
            put(grid, out, row, column, row < band ? kBand : line ? kGridLine : kBackground);
        }
    }
}

void drawDisc(uint32_t phase, const Grid& grid, std::span<uint8_t> out)
{
    const double turn = 2 * 3.141592653589793 * (phase % kCycle) / kCycle;
    const double band = static_cast<double>(bandRows(grid));
    const double rows = static_cast<double>(grid.rows);
    const double centreRow = band + (rows - band) * (0.5 + 0.3 * std::sin(turn));
    const double centreColumn = static_cast<double>(grid.columns) * (0.5 + 0.35 * std::cos(turn));
    const double radius = std::max(2.0, static_cast<double>(std::min(grid.rows, grid.columns)) / 8);
    const auto first = [](double at) { return static_cast<std::size_t>(std::max(0.0, at)); };
    const std::size_t lastRow = std::min(grid.rows, first(centreRow + radius + 1));
    const std::size_t lastColumn = std::min(grid.columns, first(centreColumn + radius + 1));
    for (std::size_t row = std::max(first(centreRow - radius), bandRows(grid)); row < lastRow; ++row) {
        const double dy = static_cast<double>(row) - centreRow;
        for (std::size_t column = first(centreColumn - radius); column < lastColumn; ++column) {
            const double dx = static_cast<double>(column) - centreColumn;
            if (dx * dx + dy * dy <= radius * radius)
                put(grid, out, row, column, kDisc);
        }
    }
}

void drawNumber(uint32_t frameNumber, const Grid& grid, std::span<uint8_t> band)
{
    const std::size_t dot = dotSize(grid);
    if (bandRows(grid) == 0)
        return;
    const std::string digits = std::to_string(frameNumber);
    std::size_t left = kHeaderSamples + 2 * dot;
    for (char digit : digits) {
        const auto& glyph = kDigits[static_cast<std::size_t>(digit - '0')];
        for (std::size_t y = 0; y < 7 * dot; ++y) {
            for (std::size_t x = 0; x < 5 * dot && left + x < grid.columns; ++x) {
                if ((glyph[y / dot] >> (4 - x / dot) & 1) != 0)
                    put(grid, band, dot + y, left + x, kInk);
            }
        }
        left += 6 * dot;
    }
}

} // namespace hxsim::FrameScene
