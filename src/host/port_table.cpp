#include "host/port_table.h"

#include <chrono>
#include <thread>

namespace quiltra {

namespace {

// Host callbacks of each real camera port that run on this thread right now.
thread_local std::array<int, PortTable::kSize> callbacksOnThisThread{};

}  // namespace

void PortTable::empty(PortSlot& slot) {
    slot.kind.store(PortKind::busy, std::memory_order_release);
    slot.binding.store(nullptr, std::memory_order_relaxed);
    slot.grabber.store(0, std::memory_order_relaxed);
    slot.width.store(0, std::memory_order_relaxed);
    slot.height.store(0, std::memory_order_relaxed);
    slot.completeCallback.store(nullptr, std::memory_order_relaxed);
    std::shared_ptr<Scanner> dropped;
    {
        std::lock_guard guard(scannerMutex_);
        dropped = std::move(slot.scanner);
    }
    slot.kind.store(PortKind::free, std::memory_order_release);
}

void PortTable::clear() {
    for (PortSlot& slot : slots_) {
        empty(slot);
    }
}

bool PortTable::reserve(int port) {
    if (!inRange(port)) {
        return false;
    }
    PortKind expected = PortKind::free;
    return slots_[port].kind.compare_exchange_strong(expected, PortKind::busy,
                                                     std::memory_order_acq_rel);
}

void PortTable::release(int port) {
    if (inRange(port)) {
        empty(slots_[port]);
    }
}

void PortTable::fillCamera(int port, DriverBinding* binding, int grabber, int width, int height) {
    if (!inRange(port)) {
        return;
    }
    PortSlot& slot = slots_[port];
    slot.binding.store(binding, std::memory_order_relaxed);
    slot.grabber.store(grabber, std::memory_order_relaxed);
    slot.width.store(width, std::memory_order_relaxed);
    slot.height.store(height, std::memory_order_relaxed);
    slot.completeCallback.store(nullptr, std::memory_order_relaxed);
    slot.kind.store(PortKind::camera, std::memory_order_release);
}

void PortTable::fillScanner(int port, std::shared_ptr<Scanner> scanner, int width, int height) {
    if (!inRange(port)) {
        return;
    }
    PortSlot& slot = slots_[port];
    slot.binding.store(nullptr, std::memory_order_relaxed);
    slot.width.store(width, std::memory_order_relaxed);
    slot.height.store(height, std::memory_order_relaxed);
    slot.completeCallback.store(nullptr, std::memory_order_relaxed);
    {
        std::lock_guard guard(scannerMutex_);
        slot.scanner = std::move(scanner);
    }
    slot.kind.store(PortKind::scanner, std::memory_order_release);
}

std::shared_ptr<Scanner> PortTable::beginCloseScanner(int port) {
    if (!inRange(port) || slots_[port].kind.load(std::memory_order_acquire) != PortKind::scanner) {
        return nullptr;
    }
    PortSlot& slot = slots_[port];
    slot.kind.store(PortKind::busy, std::memory_order_release);
    std::lock_guard guard(scannerMutex_);
    return std::move(slot.scanner);
}

std::shared_ptr<Scanner> PortTable::scanner(int port) const {
    if (!inRange(port)) {
        return nullptr;
    }
    const PortSlot& slot = slots_[port];
    if (slot.kind.load(std::memory_order_acquire) != PortKind::scanner) {
        return nullptr;
    }
    std::lock_guard guard(scannerMutex_);
    return slot.scanner;
}

CameraPort PortTable::lookup(int32_t port) const {
    CameraPort result;
    if (std::optional<CameraPortView> view = camera(port)) {
        result.hasBinding = true;
        result.width = view->width;
        result.height = view->height;
    } else if (scanner(port) != nullptr) {
        result.hasScanner = true;
    }
    return result;
}

std::optional<CameraPortView> PortTable::beginClose(int port) {
    std::optional<CameraPortView> view = camera(port);
    if (view) {
        // Sequentially consistent, as callHost's count: see there.
        slots_[port].kind.store(PortKind::busy);
    }
    return view;
}

std::optional<CameraPortView> PortTable::camera(int port) const {
    if (!inRange(port)) {
        return std::nullopt;
    }
    const PortSlot& slot = slots_[port];
    if (slot.kind.load(std::memory_order_acquire) != PortKind::camera) {
        return std::nullopt;
    }
    CameraPortView view{
        slot.binding.load(std::memory_order_relaxed), slot.grabber.load(std::memory_order_relaxed),
        slot.width.load(std::memory_order_relaxed), slot.height.load(std::memory_order_relaxed)};
    if (view.binding == nullptr) {
        return std::nullopt;  // a close emptied the slot while we read it
    }
    return view;
}

bool PortTable::setCompleteCallback(int port, CompleteCallback callback) {
    if (!camera(port)) {
        return false;
    }
    slots_[port].completeCallback.store(callback, std::memory_order_release);
    return true;
}

CompleteCallback PortTable::completeCallback(int port) const {
    if (!camera(port)) {
        return nullptr;
    }
    return slots_[port].completeCallback.load(std::memory_order_acquire);
}

void PortTable::callHost(int grabber, int port) {
    if (!inRange(port)) {
        return;
    }
    PortSlot& slot = slots_[port];
    // Counted before the kind is read, and a close marks the port busy before it reads the
    // count (both sequentially consistent): either this call sees the close and calls
    // nothing, or the close sees this call and waits for it.
    slot.callbacksInFlight.fetch_add(1);
    ++callbacksOnThisThread[port];
    if (slot.kind.load() == PortKind::camera) {
        if (CompleteCallback callback = slot.completeCallback.load(std::memory_order_acquire)) {
            callback(grabber, port);  // a C function: nothing is thrown through it
        }
    }
    --callbacksOnThisThread[port];
    slot.callbacksInFlight.fetch_sub(1);
}

void PortTable::waitForCallbacks(int port) const {
    if (!inRange(port)) {
        return;
    }
    const PortSlot& slot = slots_[port];
    // Closes are rare and callbacks short: a short sleep between looks is enough.
    while (slot.callbacksInFlight.load() > callbacksOnThisThread[port]) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace quiltra
