// The stand-in camera's register names, looked up by address for its log lines.
#include "sim/registers/camera_registers.h"

#include <algorithm>
#include <array>

namespace halvex::sim {
namespace {

#define HXSIM_NAME_REGISTER(name, address) NamedRegister{address, #name},
constexpr std::array kRegisters{HXSIM_CAMERA_REGISTERS(HXSIM_NAME_REGISTER)};
#undef HXSIM_NAME_REGISTER

// A lookup bisects the table, and a repeated address would hide one of its names.
constexpr bool strictlyAscending()
{
    return std::adjacent_find(kRegisters.begin(), kRegisters.end(), [](const NamedRegister& a, const NamedRegister& b) {
               return a.address >= b.address;
           }) == kRegisters.end();
}
static_assert(strictlyAscending(), "camera registers must be listed once each, in ascending address order");

} // namespace

std::span<const NamedRegister> cameraRegisters()
{
    return kRegisters;
}

std::string_view registerName(uint32_t address)
{
    const auto* found =
        std::lower_bound(kRegisters.begin(), kRegisters.end(), address,
                         [](const NamedRegister& entry, uint32_t wanted) { return entry.address < wanted; });
    if (found == kRegisters.end() || found->address != address) {
        return {};
    }
    return found->name;
}

} // namespace halvex::sim
