// Scripting and inspection of the fake camera driver (tests/fakes/fake_driver.cpp). A test
// loads the same library file Quiltra loads and calls its exported fakeDriverControl() to
// reach this object; the loader hands both the same instance.
#pragma once

#include <quiltra/camera_driver.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frame_stamp.h"

namespace quiltra::fake {

// The byte the fake serves at (port, row, column) of an image, for each byte of a pixel
// (plane 0 for the first byte of a pixel, 1 for the second, ...). `frame` numbers the
// images the delivery thread announced on the port, from 0.
// Worked out modulo 2^32 (only the low byte counts), so no frame count or position overflows.
inline std::uint8_t pixel(int port, int row, int column, int plane = 0, int frame = 0) {
    const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
    return static_cast<std::uint8_t>(u(port) * 31u + u(row) * 7u + u(column) + u(plane) * 101u +
                                     u(frame) * 53u);
}

// The byte the fake serves: pixel(), with the frame stamp of camera number `stampCamera`
// (0: none) over the top-left corner of an image of width x height pixels that is large
// enough for one.
inline std::uint8_t servedByte(int port, int row, int column, int plane, int frame, int stampCamera,
                               int width, int height) {
    if (stampCamera != 0 && width >= simcam::kStampWidth && height >= simcam::kStampHeight &&
        row < simcam::kStampHeight && column < simcam::kStampWidth) {
        const std::uint64_t word =
            simcam::frameStampWord({stampCamera, static_cast<std::uint32_t>(frame)});
        const int bit = (row / simcam::kStampCell) * 16 + column / simcam::kStampCell;
        return ((word >> bit) & 1u) != 0 ? 255 : 0;
    }
    return pixel(port, row, column, plane, frame);
}

// How the call log writes a text argument: in double quotes, or null.
inline std::string text(const char* value) {
    if (value == nullptr) {
        return "null";
    }
    // Appended, not `"\"" + std::string(value)`: GCC 12 at -O3 takes that insertion at the
    // front for an overlapping copy (a false -Wrestrict).
    std::string quoted(1, '"');
    quoted += value;
    quoted += '"';
    return quoted;
}

// How the call log writes a pointer argument: its address in hexadecimal, or null.
inline std::string pointer(const void* value) {
    if (value == nullptr) {
        return "null";
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(value)));
    return buffer;
}

// The script and the log of one fake driver library. All functions are thread-safe.
// The entries answer 1 and report a 640 x 480 image of 8 bits per pixel unless scripted.
class FakeDriverControl {
public:
    // Forgets the script, the log, the stored callbacks and the debug procedure; stops the
    // delivery thread.
    virtual void reset() = 0;

    // The names getCVLCameraConfigNames lists. reportedCount is what
    // getCVLNoOfSupportedCameras answers (-1: the number of names); nullList makes
    // getCVLCameraConfigNames answer null.
    virtual void setCameraNames(const std::vector<std::string>& names, int reportedCount = -1,
                                bool nullList = false) = 0;
    // What getCVLMaxNoOfPorts answers.
    virtual void setPortCount(int ports) = 0;
    // Answers of the next openCVLPort calls, in order; after them, 1.
    virtual void scriptOpenResults(const std::vector<int>& results) = 0;
    // Answers of the next setCompleteCallback calls, in order; after them, 1.
    virtual void scriptHandOverResults(const std::vector<int>& results) = 0;
    // The image size openCVLPort reports for a port (port -1: every other port).
    virtual void setImageSize(int port, int width, int height) = 0;
    // A value getProperty reports for a port (port -1: every other port). "PixelSize" also
    // sets the bytes per pixel getCVLGrabRow serves ((bits + 7) / 8).
    virtual void setPropertyValue(int port, const std::string& name, int value) = 0;
    // The answer of an entry that only answers (initialize, configureCamera, doCVLGrab,
    // getCVLGrabRow, getPropertyRange, getProperty, setProperty, setCmdCallback, execCmd);
    // default 1.
    virtual void setResult(const std::string& entry, int result) = 0;
    // The same for one port only; it comes before setResult's answer.
    virtual void setPortResult(const std::string& entry, int port, int result) = 0;
    // The text execCmd copies into the result buffer for a port (port -1: every other port).
    // A text that does not fit fills the whole buffer with no terminating NUL, as a careless
    // driver would.
    virtual void setExecReply(const std::string& reply, int port = -1) = 0;

    // Image delivery. The fake's own delivery thread calls the completion callback last set
    // on the image's port, with the grabber and port of the image.
    // doCVLGrab on a port queues an image of it.
    virtual void setDeliverOnGrab(bool on) = 0;
    // The named entry (setCompleteCallback, closeCVLPort, doCVLGrab or finalize) has the
    // delivery thread deliver an image of its port (finalize: of the last port that got a
    // callback) and waits for that delivery before it returns, as a driver that hands
    // over an image synchronously. A delivery that does not finish within 10 s is logged as
    // "deliveryTimedOut" (the caller blocked the delivery thread).
    virtual void setDeliverInside(const std::string& entry) = 0;
    // Queues an image of (grabber, port).
    virtual void deliver(int grabber, int port) = 0;
    // Waits until every queued image has been delivered and no callback runs.
    virtual void waitForDeliveries() = 0;
    // Number of images the delivery thread has handed to a callback.
    virtual int delivered() = 0;
    // Announces the port's next image on the calling thread, as a driver with a thread of
    // its own per grabber or port does; true when a callback took it. Images of one port
    // must come from one thread at a time (its rows show the frame being announced).
    virtual bool deliverHere(int grabber, int port) = 0;
    // A dropped image: the port's frame number moves on with no announcement.
    virtual void dropImage(int port) = 0;
    // Images of `port` carry the frame stamp of camera number `camera` (0: none).
    virtual void setFrameStamp(int port, int camera) = 0;
    // Whether entry calls are logged (on after reset); a long run turns it off.
    virtual void setCallLog(bool on) = 0;

    // Timing and faults of the delivery thread, for the driver conformance checks.
    // Each queued image is announced no earlier than `ms` after it was queued (0 after reset).
    virtual void setDeliveryDelay(int ms) = 0;
    // With setDeliverOnGrab, every doCVLGrab queues this many images (1 after reset).
    virtual void setImagesPerGrab(int images) = 0;
    // On: closeCVLPort drops the port's queued images and its callback and, unless called from
    // that callback, waits for one in flight, so no callback of the port runs once it has
    // returned. Off (after reset): images queued for a closed port are still announced.
    virtual void setQuietAfterClose(bool on) = 0;
    // Images of `port` are announced with port number `announced` (after reset: their own).
    virtual void setAnnouncedPort(int port, int announced) = 0;
    // On: getCVLGrabRow answers 0 except inside a callback on the delivery thread.
    virtual void setRowsOnlyInCallback(bool on) = 0;

    // What the fake was given.
    virtual CompleteCallback completeCallback(int port) = 0;
    virtual DebugMsgProc debugMsgProc() = 0;
    virtual std::string systemPath() = 0;
    // Calls the debug procedure it was given with text (nothing when it has none).
    virtual void sendDebugMessage(const std::string& text) = 0;

    // Every call of an entry, in order, as "name(argument,...)": numbers in decimal, texts
    // with text(), pointers with pointer().
    virtual std::vector<std::string> calls() = 0;
    // The calls whose name is `entry`.
    virtual std::vector<std::string> callsOf(const std::string& entry) = 0;
    virtual void clearCalls() = 0;

protected:
    ~FakeDriverControl() = default;
};

// The type of the exported control entry.
using FakeDriverControlFn = FakeDriverControl*(QUILTRA_CALL*)();
inline constexpr const char* kFakeDriverControlEntry = "fakeDriverControl";

}  // namespace quiltra::fake
