// Family register groups: the family's register caches, one per group, each refreshed from the
// camera as a whole.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "registers/register_cache.h"
#include "registers/register_map.h"

namespace halvex::family {

// Holds the caches and reads them through the owner's refresh, which takes the owner's state
// mutex only while it touches a cache. The other operations touch the caches directly: their
// caller holds that state mutex, so that a record is always computed from the values beside it.
class FamilyRegisterGroups {
public:
    // Reads every register of a cache from the camera and stores the values; false on failure.
    using Refresh =
        std::function<bool(registers::RegisterCache& registers, uint8_t* counter, registers::RegisterStamps& stamps)>;

    explicit FamilyRegisterGroups(Refresh refresh);

    // Adds a register to a group; the next refresh reads it. State mutex held.
    void add(registers::RegisterGroup group, uint32_t address);
    // A group's cache. State mutex held.
    registers::RegisterCache& registers(registers::RegisterGroup group);
    const registers::RegisterCache& registers(registers::RegisterGroup group) const;
    // Takes a value the camera reported, known at `known` (control::orderStamp); true when the
    // group holds its register. The value is stored unless a read or report known later already
    // was: an event that waited in the service thread's queue behind a later write and its
    // read-back would otherwise take the cache back to the value before that write. State mutex
    // held.
    bool store(registers::RegisterGroup group, uint32_t address, uint32_t value, uint64_t known);
    // Reads the whole group from the camera. State mutex not held.
    bool refresh(registers::RegisterGroup group);

private:
    struct Group {
        registers::RegisterCache registers;
        registers::RegisterStamps stamps;
        uint8_t counter = 0;
    };
    static constexpr std::size_t GROUP_COUNT = 10;

    Group& group(registers::RegisterGroup id);

    Refresh refresh_;
    std::array<Group, GROUP_COUNT> groups_;
};

} // namespace halvex::family
