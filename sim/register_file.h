// The camera's register file: the 32-bit registers it has, their values and which are read-only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace hxsim {

enum class Access { ReadWrite, ReadOnly };

// Plain storage. What a write means (clamping, translation, side effects) is decided by the
// camera core; this class only knows which addresses exist and which hosts may not write.
class RegisterFile {
public:
    void define(uint32_t address, uint32_t value, Access access = Access::ReadWrite);

    bool has(uint32_t address) const { return entries_.count(address) != 0; }
    bool readOnly(uint32_t address) const;
    // The value, or nothing for an address the camera does not have.
    std::optional<uint32_t> read(uint32_t address) const;
    // The value of a register the camera is known to have (0 when it has not).
    uint32_t get(uint32_t address) const;
    // Sets an existing register whatever its access; an unknown address is ignored.
    void set(uint32_t address, uint32_t value);

    // All values, for finding what a request changed.
    std::map<uint32_t, uint32_t> values() const;

private:
    struct Entry {
        uint32_t value;
        Access access;
    };
    std::map<uint32_t, Entry> entries_;
};

}  // namespace hxsim
