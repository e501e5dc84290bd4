// Sensor table and the per-chip frame-rate timing of the stand-in camera.
#include "sim/registers/sensor_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

namespace hxsim {
namespace {

constexpr std::array<SensorSpec, 5> kChips{{
    {"lince", SensorChip::Lince, 0x414C3543, 0x414C354D, 2560, 2048, 64, 8, 100000, 0x45, 0x1FF, 0x3F, 0x7},
    {"lupa", SensorChip::Lupa, 0x4C313343, 0x4C31334D, 1280, 1024, 48, 8, 100000, 0x5F, 0x27, 0x1, 0x7},
    {"lux13hs", SensorChip::Lux13HS, 0x58334843, 0x5833484D, 1280, 1024, 64, 8, 100000, 0x1, 0x27, 0x1, 0x5},
    {"lux19hs", SensorChip::Lux19HS, 0x58394843, 0x5839484D, 1920, 1080, 64, 8, 100000, 0x1, 0x27, 0x1, 0x5},
    // Known to hosts but not supported by them; the camera itself works like the others.
    {"x60", SensorChip::X60, 0x58363043, 0x5836304D, 1920, 1080, 64, 8, 100000, 0x1, 0x27, 0x1, 0x5},
}};

constexpr std::array<uint32_t, 9> kPixelFormats{16, 17, 18, 19, 20, 32, 33, 35, 48};
constexpr std::array<uint32_t, 6> kBnsWords{0x101, 0x102, 0x104, 0x201, 0x401, 0x202};
constexpr std::array<uint32_t, 3> kFpnCodes{0, 1, 4};
constexpr std::array<uint32_t, 8> kGains{100, 150, 200, 250, 300, 350, 400, 450};

// The chip that reports a type code, in either variant; nothing for a code no chip has.
const SensorSpec* chipOf(uint32_t typeCode)
{
    const auto* found = std::find_if(kChips.begin(), kChips.end(), [typeCode](const SensorSpec& spec) {
        return spec.colourCode == typeCode || spec.monoCode == typeCode;
    });
    return found == kChips.end() ? nullptr : found;
}

template <std::size_t N>
bool offered(const std::array<uint32_t, N>& codes, uint32_t capabilities, uint32_t value)
{
    for (std::size_t bit = 0; bit < N; ++bit) {
        if (codes[bit] == value && (capabilities & (1u << bit)) != 0) {
            return true;
        }
    }
    return false;
}

// Row time and constants of the Lince timing for a readout of n columns.
struct LinceTiming {
    uint32_t rowTime, a, d;
};

LinceTiming linceTiming(uint32_t columns, uint32_t bnsWord)
{
    const bool fast = (bnsWord & (1u << 28)) != 0;
    uint32_t rowTime = 165;
    if (columns < 769) {
        rowTime = (bnsWord & 0xFF) > 1 ? 52 : 84;
    } else if (columns < 1281) {
        rowTime = 84;
    } else if (columns <= 1920) {
        rowTime = 124;
    } else if (columns <= 2048) {
        rowTime = 132;
    }
    switch (rowTime) {
    case 52: return {52, 203, 680};
    case 84: return {84, fast ? 98u : 117u, fast ? 211u : 251u};
    case 165: return {165, fast ? 168u : 203u, fast ? 723u : 858u};
    default: return {rowTime, fast ? 168u : 203u, fast ? 735u : 1022u};
    }
}

uint32_t linceRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t bnsWord, uint32_t ceiling)
{
    uint32_t factor = ((bnsWord >> 8) & 0xFF) * (bnsWord & 0xFF);
    factor = factor == 0 ? 1 : factor;
    const uint64_t cols = std::min<uint64_t>(uint64_t{factor} * width, 2560);
    const uint64_t rows = std::min<uint64_t>(uint64_t{factor} * height, 2048);
    const uint64_t x = uint64_t{factor} * (xOffset & 0xFFFF);
    const uint64_t start = x + cols <= 2560 ? x : 2560 - cols;
    uint64_t first = start / 64 * 64;
    uint64_t last = (start + cols + 63) / 64 * 64;
    if (last - first < 80u * factor) {
        first = first < 64 ? first : first - 64;
        if (last - first < 80u * factor && last < 2496) {
            last += 64;
        }
    }
    const auto columns = static_cast<uint32_t>((last - first) / factor);
    const LinceTiming timing = linceTiming(columns, bnsWord);
    const uint64_t period =
        timing.d + 2 + ((timing.a + timing.rowTime - 1) / timing.rowTime + rows / factor + 8) * timing.rowTime;
    const uint64_t clock = (bnsWord & (1u << 28)) != 0 ? 72000000 : 86400000;
    return static_cast<uint32_t>(std::min<uint64_t>(clock / period, ceiling));
}

uint32_t lupaRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t ceiling)
{
    const int64_t k = (int64_t{width} - 1 + xOffset) / 24 - int64_t{xOffset} / 24 + 1;
    const double rate = 63000000.0 / static_cast<double>((2 * k + 12) * int64_t{height} + 465);
    return static_cast<uint32_t>(std::floor(std::min(static_cast<double>(ceiling), rate)));
}

} // namespace

std::span<const SensorSpec> SensorModel::chips()
{
    return kChips;
}

std::optional<SensorModel> SensorModel::fromName(std::string_view name)
{
    if (name.starts_with("0x") || name.starts_with("0X")) {
        const std::string digits(name.substr(2));
        char* end = nullptr;
        const unsigned long code = std::strtoul(digits.c_str(), &end, 16);
        if (digits.empty() || *end != '\0' || code > 0xFFFFFFFFul) {
            return std::nullopt;
        }
        return fromCode(static_cast<uint32_t>(code));
    }
    const bool mono = name.ends_with("-mono");
    if (mono) {
        name.remove_suffix(5);
    }
    for (const SensorSpec& spec : kChips) {
        if (spec.name == name) {
            return fromCode(mono ? spec.monoCode : spec.colourCode);
        }
    }
    return std::nullopt;
}

SensorModel SensorModel::fromCode(uint32_t typeCode)
{
    const SensorSpec* chip = chipOf(typeCode);
    return SensorModel(chip != nullptr ? chip : &kChips[0], typeCode);
}

std::string SensorModel::describe() const
{
    const SensorSpec* chip = chipOf(typeCode_);
    if (chip == nullptr) {
        return fmt::format("unknown sensor 0x{:08X}", typeCode_);
    }
    return fmt::format("{}{} (0x{:08X})", chip->name, typeCode_ == chip->monoCode ? "-mono" : "", typeCode_);
}

uint32_t SensorModel::maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t bnsWord,
                                   uint32_t ceiling) const
{
    switch (spec_->chip) {
    case SensorChip::Lince: return linceRate(width, height, xOffset, bnsWord, ceiling);
    case SensorChip::Lupa: return lupaRate(width, height, xOffset, ceiling);
    case SensorChip::Lux13HS: return std::min<uint32_t>(133000000 / ((height / 4) * 168 + 580), ceiling);
    case SensorChip::Lux19HS:
    case SensorChip::X60: return std::min<uint32_t>(87500000 / ((height / 4) * 128 + 440), ceiling);
    }
    return ceiling;
}

bool SensorModel::acceptsPixelFormat(uint32_t code) const
{
    return offered(kPixelFormats, spec_->bitModeCapabilities, code);
}
bool SensorModel::acceptsBns(uint32_t word) const
{
    return offered(kBnsWords, spec_->bnsCapabilities, word & ~(1u << 28));
}
bool SensorModel::acceptsFpn(uint32_t code) const
{
    return offered(kFpnCodes, spec_->fpnCapabilities, code & ~0x10u);
}
bool SensorModel::acceptsGain(uint32_t hundredths) const
{
    return offered(kGains, spec_->gainCapabilities, hundredths);
}

uint64_t frameBytes(uint32_t width, uint32_t height, uint32_t pixelFormat)
{
    if (pixelFormat == 48) {
        return (uint64_t{width} + 4) / 5 * height * 8;
    }
    if (pixelFormat == 3 || (pixelFormat >= 32 && pixelFormat <= 35)) {
        return (uint64_t{width} + 2) / 3 * height * 4;
    }
    return (uint64_t{width} + 3) / 4 * height * 4;
}

} // namespace hxsim
