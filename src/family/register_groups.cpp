// Family register groups: a cache per register group and its refresh.
#include "family/register_groups.h"

#include <utility>

namespace halvex::family {

using registers::RegisterCache;

using registers::RegisterGroup;

namespace {

constexpr std::size_t slot(RegisterGroup group)
{
    return static_cast<std::size_t>(group);
}

} // namespace

FamilyRegisterGroups::FamilyRegisterGroups(Refresh refresh) : refresh_(std::move(refresh))
{
    static_assert(slot(RegisterGroup::Text) < GROUP_COUNT);
}

FamilyRegisterGroups::Group& FamilyRegisterGroups::group(RegisterGroup id)
{
    return groups_[slot(id)];
}

void FamilyRegisterGroups::add(RegisterGroup id, uint32_t address)
{
    group(id).registers[address];
}

RegisterCache& FamilyRegisterGroups::registers(RegisterGroup id)
{
    return group(id).registers;
}

const RegisterCache& FamilyRegisterGroups::registers(RegisterGroup id) const
{
    return groups_[slot(id)].registers;
}

bool FamilyRegisterGroups::store(RegisterGroup id, uint32_t address, uint32_t value, uint64_t known)
{
    Group& target = group(id);
    const auto found = target.registers.find(address);
    if (found == target.registers.end())
        return false;
    uint64_t& held = target.stamps[address];
    if (held <= known) { // one notification may bring a register twice: the later pair holds
        held = known;
        found->second = value;
    }
    return true;
}

bool FamilyRegisterGroups::refresh(RegisterGroup id)
{
    Group& target = group(id);
    return refresh_(target.registers, &target.counter, target.stamps);
}

} // namespace halvex::family
