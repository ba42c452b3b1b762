// The table of the 128 ports a host can open: for each port whether it is free, being
// opened or closed, or a real camera port of the underlying driver, and what was opened.
#pragma once

#include <quiltra/camera_driver.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "config/camera_port_lookup.h"
#include "scanner/scanner.h"

namespace quiltra {

class DriverBinding;

// What a port is used for. `busy` marks a port that an open or a close is working on: it is
// not free for another open, and calls on it are answered as on a free port.
enum class PortKind : std::uint8_t { free, busy, camera, scanner };

// A copy of what was opened on a real camera port.
struct CameraPortView {
    DriverBinding* binding = nullptr;  // never null in a view
    int grabber = 0;                   // the grabber the port was opened with
    int width = 0;                     // image size the driver reported at opening
    int height = 0;
};

// One port. Every field is written only under the DriverLock (so an open, a close and the
// completion hook exclude each other), and read without a lock by the entry points, which
// must not wait for a hook that runs a host callback. `kind` is stored last when a slot is
// filled and first when it is emptied, so a reader that sees `camera` sees the fields of
// that opening, or null/zero ones if a close has begun since.
struct PortSlot {
    std::atomic<PortKind> kind{PortKind::free};
    std::atomic<DriverBinding*> binding{nullptr};
    std::atomic<int> grabber{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    // The host's callback for a real camera port; also stored without the DriverLock by
    // setCompleteCallback, so it may change while an image is being handed over.
    std::atomic<CompleteCallback> completeCallback{nullptr};
    // The scanner open on a scanner port, for the lock-free readers; the PortTable owns it.
    std::atomic<Scanner*> scanner{nullptr};
};

// The PortTable: the only code that touches PortSlot fields. Functions marked "DriverLock"
// must be called with it held; the others may be called from any thread without it.
class PortTable : public CameraPortLookup {
public:
    static constexpr int kSize = 128;

    static bool inRange(int port) { return port >= 0 && port < kSize; }

    // DriverLock. Empties every slot (initialize).
    void clear();
    // DriverLock. Marks a free slot busy for an open; false when it is not free.
    bool reserve(int port);
    // DriverLock. Empties a busy slot again (an open that failed, a finished close).
    void release(int port);
    // DriverLock. Turns a busy slot into a real camera port with no host callback yet.
    void fillCamera(int port, DriverBinding* binding, int grabber, int width, int height);
    // DriverLock. Marks a real camera port busy for its close and returns what was open;
    // nothing when the port is not a real camera port.
    std::optional<CameraPortView> beginClose(int port);

    // DriverLock. Turns a busy slot into a scanner port owning `scanner`, with the final
    // image size reported at opening.
    void fillScanner(int port, std::unique_ptr<Scanner> scanner, int width, int height);
    // DriverLock. Marks a scanner port busy for its close and hands over its scanner; null
    // when the port is not a scanner port.
    std::unique_ptr<Scanner> beginCloseScanner(int port);

    // The scanner open on a port, or null (also for a port out of range). It stays valid
    // until the host closes that port.
    Scanner* scanner(int port) const;

    // Construction's view of a port: a real camera with its image size, or a scanner.
    CameraPort lookup(int32_t port) const override;

    // What is open on a real camera port, or nothing (also for a port out of range).
    std::optional<CameraPortView> camera(int port) const;
    // Stores the host's callback of a real camera port; false when it is not one.
    bool setCompleteCallback(int port, CompleteCallback callback);
    // The host's callback of a real camera port; null when there is none or the port is
    // not a real camera port.
    CompleteCallback completeCallback(int port) const;

private:
    static void empty(PortSlot& slot);

    std::array<PortSlot, kSize> slots_;
    // The scanners of the scanner ports; changed only under the DriverLock.
    std::array<std::unique_ptr<Scanner>, kSize> scanners_;
};

}  // namespace quiltra
