// A value that one lock guards for writing but that readers on other threads may read
// without it (a counter shown as a property, say): every load and store is a relaxed atomic
// access, so such a read is no data race and sees some value the field had, perhaps one
// update old. A read-modify-write is only correct while the writers' lock is held.
#pragma once

#include <atomic>

namespace quiltra::platform {

template <typename T>
class RelaxedAtomic {
public:
    constexpr RelaxedAtomic(T value = T{}) noexcept : value_(value) {}  // NOLINT: implicit
    RelaxedAtomic(const RelaxedAtomic&) = delete;
    RelaxedAtomic& operator=(const RelaxedAtomic&) = delete;

    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }  // NOLINT: reads like the plain field
    RelaxedAtomic& operator=(T value) noexcept {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<T> value_;
};

}  // namespace quiltra::platform
