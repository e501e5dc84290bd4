// Tarrow register groups: a cache per register group and its refresh.
#include "tarrow/tarrow_register_groups.h"

#include <utility>

using HX_REGISTERS::RegisterGroup;

namespace {

constexpr std::size_t slot(RegisterGroup group)
{
    return static_cast<std::size_t>(group);
}

} // namespace

TarrowRegisterGroups::TarrowRegisterGroups(Refresh refresh) : refresh_(std::move(refresh))
{
    static_assert(slot(RegisterGroup::Text) < GROUP_COUNT);
}

TarrowRegisterGroups::Group& TarrowRegisterGroups::group(RegisterGroup id)
{
    return groups_[slot(id)];
}

void TarrowRegisterGroups::add(RegisterGroup id, uint32_t address)
{
    group(id).registers[address];
}

RegisterCache& TarrowRegisterGroups::registers(RegisterGroup id)
{
    return group(id).registers;
}

const RegisterCache& TarrowRegisterGroups::registers(RegisterGroup id) const
{
    return groups_[slot(id)].registers;
}

bool TarrowRegisterGroups::store(RegisterGroup id, uint32_t address, uint32_t value, uint64_t known)
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

bool TarrowRegisterGroups::refresh(RegisterGroup id)
{
    Group& target = group(id);
    return refresh_(target.registers, &target.counter, target.stamps);
}
