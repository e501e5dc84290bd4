// Register file storage.
#include "register_file.h"

namespace hxsim {

void RegisterFile::define(uint32_t address, uint32_t value, Access access) { entries_[address] = Entry{value, access}; }

bool RegisterFile::readOnly(uint32_t address) const {
    auto found = entries_.find(address);
    return found != entries_.end() && found->second.access == Access::ReadOnly;
}

std::optional<uint32_t> RegisterFile::read(uint32_t address) const {
    auto found = entries_.find(address);
    if (found == entries_.end()) {
        return std::nullopt;
    }
    return found->second.value;
}

uint32_t RegisterFile::get(uint32_t address) const { return read(address).value_or(0); }

void RegisterFile::set(uint32_t address, uint32_t value) {
    auto found = entries_.find(address);
    if (found != entries_.end()) {
        found->second.value = value;
    }
}

std::map<uint32_t, uint32_t> RegisterFile::values() const {
    std::map<uint32_t, uint32_t> result;
    for (const auto& [address, entry] : entries_) {
        result.emplace_hint(result.end(), address, entry.value);
    }
    return result;
}

}  // namespace hxsim
