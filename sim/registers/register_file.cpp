// Register file storage.
#include "sim/registers/register_file.h"

#include <algorithm>

namespace hxsim {
namespace {

bool before(const RegisterEntry& entry, uint32_t address)
{
    return entry.address < address;
}

} // namespace

void RegisterFile::define(uint32_t address, uint32_t value, Access access)
{
    auto at = std::lower_bound(entries_.begin(), entries_.end(), address, before);
    if (at != entries_.end() && at->address == address) {
        *at = RegisterEntry{address, value, access};
        return;
    }
    entries_.insert(at, RegisterEntry{address, value, access});
}

const RegisterEntry* RegisterFile::find(uint32_t address) const
{
    auto at = std::lower_bound(entries_.begin(), entries_.end(), address, before);
    return at != entries_.end() && at->address == address ? &*at : nullptr;
}

bool RegisterFile::readOnly(uint32_t address) const
{
    const RegisterEntry* entry = find(address);
    return entry != nullptr && entry->access == Access::ReadOnly;
}

std::optional<uint32_t> RegisterFile::read(uint32_t address) const
{
    const RegisterEntry* entry = find(address);
    return entry != nullptr ? std::optional<uint32_t>(entry->value) : std::nullopt;
}

uint32_t RegisterFile::get(uint32_t address) const
{
    return read(address).value_or(0);
}

void RegisterFile::set(uint32_t address, uint32_t value)
{
    if (RegisterEntry* entry = const_cast<RegisterEntry*>(find(address))) {
        entry->value = value;
    }
}

std::vector<uint32_t> RegisterFile::values() const
{
    std::vector<uint32_t> result;
    result.reserve(entries_.size());
    for (const RegisterEntry& entry : entries_) {
        result.push_back(entry.value);
    }
    return result;
}

} // namespace hxsim
