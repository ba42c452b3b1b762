// The table of the 128 ports a host can open: for each port whether it is free, being
// opened or closed, or a real camera port of the underlying driver, and what was opened.
#pragma once

#include <quiltra/camera_driver.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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
// completion hook's walk exclude each other), and read without it by the entry points,
// which must not wait for a hook. `kind` is stored last when a slot is filled and first
// when it is emptied, so a reader that sees `camera` sees the fields of that opening, or
// null/zero ones if a close has begun since.
struct PortSlot {
    std::atomic<PortKind> kind{PortKind::free};
    std::atomic<DriverBinding*> binding{nullptr};
    std::atomic<int> grabber{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    // The host's callback for a real camera port; also stored without the DriverLock by
    // setCompleteCallback, so it may change while an image is being handed over.
    std::atomic<CompleteCallback> completeCallback{nullptr};
    // Host callbacks of this real camera port running now, on any thread; a close waits
    // until only its own thread's are left.
    std::atomic<int> callbacksInFlight{0};
    // The scanner open on a scanner port: the slot's reference. Guarded by the table's
    // scannerMutex_ (so an entry point can copy it without the DriverLock); changed only
    // under the DriverLock as well.
    std::shared_ptr<Scanner> scanner;
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

    // DriverLock. Turns a busy slot into a scanner port holding `scanner`, with the final
    // image size reported at opening.
    void fillScanner(int port, std::shared_ptr<Scanner> scanner, int width, int height);
    // DriverLock. Marks a scanner port busy for its close and hands over the slot's
    // reference; null when the port is not a scanner port.
    std::shared_ptr<Scanner> beginCloseScanner(int port);

    // A reference to the scanner open on a port, or null (also for a port out of range):
    // the caller keeps it alive for as long as it holds the reference.
    std::shared_ptr<Scanner> scanner(int port) const;

    // Construction's view of a port: a real camera with its image size, or a scanner.
    CameraPort lookup(int32_t port) const override;

    // What is open on a real camera port, or nothing (also for a port out of range).
    std::optional<CameraPortView> camera(int port) const;
    // Stores the host's callback of a real camera port; false when it is not one.
    bool setCompleteCallback(int port, CompleteCallback callback);
    // The host's callback of a real camera port; null when there is none or the port is
    // not a real camera port.
    CompleteCallback completeCallback(int port) const;

    // Calls the host's callback of a real camera port, if it has one, with (grabber, port)
    // as given, counted as in flight so that a close of the port can wait for it.
    void callHost(int grabber, int port);
    // Waits until no host callback of `port` runs on another thread (a close has marked
    // the port busy, so no new one starts). Callbacks of the calling thread are not waited
    // for: a callback may close its own port.
    void waitForCallbacks(int port) const;

private:
    void empty(PortSlot& slot);

    std::array<PortSlot, kSize> slots_;
    // Guards every slot's `scanner` reference (copied by entry points on any thread). A
    // leaf lock: nothing else is taken while it is held.
    mutable std::mutex scannerMutex_;
};

}  // namespace quiltra
