#include "host/port_table.h"

namespace quiltra {

void PortTable::empty(PortSlot& slot) {
    slot.kind.store(PortKind::busy, std::memory_order_release);
    slot.binding.store(nullptr, std::memory_order_relaxed);
    slot.grabber.store(0, std::memory_order_relaxed);
    slot.width.store(0, std::memory_order_relaxed);
    slot.height.store(0, std::memory_order_relaxed);
    slot.completeCallback.store(nullptr, std::memory_order_relaxed);
    slot.scanner.store(nullptr, std::memory_order_relaxed);
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

void PortTable::fillScanner(int port, std::unique_ptr<Scanner> scanner, int width, int height) {
    if (!inRange(port)) {
        return;
    }
    PortSlot& slot = slots_[port];
    scanners_[port] = std::move(scanner);
    slot.binding.store(nullptr, std::memory_order_relaxed);
    slot.width.store(width, std::memory_order_relaxed);
    slot.height.store(height, std::memory_order_relaxed);
    slot.completeCallback.store(nullptr, std::memory_order_relaxed);
    slot.scanner.store(scanners_[port].get(), std::memory_order_relaxed);
    slot.kind.store(PortKind::scanner, std::memory_order_release);
}

std::unique_ptr<Scanner> PortTable::beginCloseScanner(int port) {
    if (scanner(port) == nullptr) {
        return nullptr;
    }
    PortSlot& slot = slots_[port];
    slot.kind.store(PortKind::busy, std::memory_order_release);
    slot.scanner.store(nullptr, std::memory_order_relaxed);
    return std::move(scanners_[port]);
}

Scanner* PortTable::scanner(int port) const {
    if (!inRange(port)) {
        return nullptr;
    }
    const PortSlot& slot = slots_[port];
    if (slot.kind.load(std::memory_order_acquire) != PortKind::scanner) {
        return nullptr;
    }
    return slot.scanner.load(std::memory_order_relaxed);
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
        slots_[port].kind.store(PortKind::busy, std::memory_order_release);
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

}  // namespace quiltra
