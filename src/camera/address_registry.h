// A process-wide table of one object per camera address, shared by the registries that hand out
// per-camera objects: lookups, removal by whoever ends the object, and a final close that
// refuses further entries and hands every object back to be ended outside the lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace halvex::camera {

template <class T>
class AddressRegistry {
public:
    using Objects = std::map<uint32_t, std::shared_ptr<T>>;

    std::shared_ptr<T> find(uint32_t address) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = objects_.find(address);
        return found == objects_.end() ? nullptr : found->second;
    }

    bool contains(uint32_t address) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return objects_.count(address) != 0;
    }

    bool closed() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return closed_;
    }

    // The object held for the address, or the one make() builds there (kept unless null); null
    // once closed. make() runs under the lock, so two first calls never build two objects.
    template <class Make>
    std::shared_ptr<T> findOrAdd(uint32_t address, Make&& make)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return nullptr;
        if (const auto found = objects_.find(address); found != objects_.end())
            return found->second;
        std::shared_ptr<T> object = make();
        if (object)
            objects_.emplace(address, object);
        return object;
    }

    // Takes the address's object out; whoever takes it is its one closer. Null when none.
    std::shared_ptr<T> take(uint32_t address)
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = objects_.find(address);
        if (found == objects_.end())
            return nullptr;
        std::shared_ptr<T> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

    // Takes the entry out that holds this very object; null when none does.
    std::shared_ptr<T> takeObject(const T* object)
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto entry = objects_.begin(); entry != objects_.end(); ++entry) {
            if (entry->second.get() == object) {
                std::shared_ptr<T> taken = std::move(entry->second);
                objects_.erase(entry);
                return taken;
            }
        }
        return nullptr;
    }

    // Marks the registry closed and hands back every object it held.
    Objects closeAll()
    {
        Objects closing;
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        closing.swap(objects_);
        return closing;
    }

private:
    mutable std::mutex lock_;
    Objects objects_;
    bool closed_ = false;
};

} // namespace halvex::camera
