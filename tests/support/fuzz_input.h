// Fuzzer input read as a script: bytes taken from the front, running dry as zeros, so every
// input, however short, is a complete script.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fuzz_input {

class Input {
public:
    explicit Input(std::span<const uint8_t> data) : data_(data) {}
    bool empty() const { return data_.empty(); }
    uint8_t byte()
    {
        if (data_.empty())
            return 0;
        const uint8_t value = data_.front();
        data_ = data_.subspan(1);
        return value;
    }
    // Big-endian; each byte read in its own statement, as the operands of | are unsequenced.
    uint16_t u16()
    {
        const uint16_t high = byte();
        return uint16_t(high << 8 | byte());
    }
    uint32_t u32()
    {
        const uint32_t high = u16();
        return high << 16 | u16();
    }
    std::span<const uint8_t> bytes(std::size_t wanted)
    {
        const std::span<const uint8_t> taken = data_.first(std::min(wanted, data_.size()));
        data_ = data_.subspan(taken.size());
        return taken;
    }
    std::string text(std::size_t room)
    {
        const std::span<const uint8_t> raw = bytes(byte() % (room + 1));
        return std::string(raw.begin(), raw.end());
    }

private:
    std::span<const uint8_t> data_;
};

} // namespace fuzz_input
