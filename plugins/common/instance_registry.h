// The instances a plug-in has handed out: each handle is the address of an object kept here,
// so that a handle of 0, one already released or any other unknown value is refused instead
// of followed. Header-only and standard C++ only, like the plug-ins that share it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace quiltra::plugins {

template <typename T>
class InstanceRegistry {
public:
    uintptr_t add(std::unique_ptr<T> instance) {
        const auto handle = reinterpret_cast<uintptr_t>(instance.get());
        std::lock_guard guard(mutex_);
        instances_.emplace(handle, std::move(instance));
        return handle;
    }
    // The instance, kept alive for the caller even if another thread releases it meanwhile.
    std::shared_ptr<T> find(uintptr_t handle) const {
        std::lock_guard guard(mutex_);
        auto it = instances_.find(handle);
        return it == instances_.end() ? nullptr : it->second;
    }
    bool remove(uintptr_t handle) {
        std::shared_ptr<T> last;  // freed after the lock is released
        std::lock_guard guard(mutex_);
        auto it = instances_.find(handle);
        if (it == instances_.end()) {
            return false;
        }
        last = std::move(it->second);
        instances_.erase(it);
        return true;
    }

private:
    mutable std::mutex mutex_;  // guards instances_
    std::unordered_map<uintptr_t, std::shared_ptr<T>> instances_;
};

}  // namespace quiltra::plugins
