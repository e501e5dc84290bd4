// The camera's register file: the 32-bit registers it has, their values and which are read-only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hxsim {

enum class Access { ReadWrite, ReadOnly };

struct RegisterEntry {
    uint32_t address;
    uint32_t value;
    Access access;
};

// Plain storage, kept sorted by address; the set of registers is fixed once the camera has
// powered up, so two snapshots of values() always line up with entries(). What a write means
// (clamping, translation, side effects) is decided by the camera device.
class RegisterFile {
public:
    void define(uint32_t address, uint32_t value, Access access = Access::ReadWrite);

    bool has(uint32_t address) const { return find(address) != nullptr; }
    bool readOnly(uint32_t address) const;
    // The value, or nothing for an address the camera does not have.
    std::optional<uint32_t> read(uint32_t address) const;
    // The value of a register the camera is known to have (0 when it has not).
    uint32_t get(uint32_t address) const;
    // Sets an existing register whatever its access; an unknown address is ignored.
    void set(uint32_t address, uint32_t value);

    std::span<const RegisterEntry> entries() const { return entries_; }
    // Every value in address order, for finding what a request changed.
    std::vector<uint32_t> values() const;

private:
    const RegisterEntry* find(uint32_t address) const;

    std::vector<RegisterEntry> entries_;
};

} // namespace hxsim
