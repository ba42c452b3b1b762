// An object that is constructed but never destroyed: for process-wide state that threads
// may still reach while the process exits or the library is unloaded. Trivially
// destructible, so no exit-time destructor is registered for it.
#pragma once

#include <new>
#include <utility>

namespace quiltra::platform {

template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace quiltra::platform
