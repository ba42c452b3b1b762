// A library frame: one run of the library's own code on a thread that the host can be
// called back from (an entry point, the completion hook, a camera worker step, a timer
// callback). Frames nest when a host callback calls the library again on the same thread.
//
// Work that must not run inside a callback (a scanner port closed from one of that
// scanner's own callbacks has to wait for its workers, one of which may be this very
// thread, and must not free what the callback's caller still uses) is deferred: it runs
// when the outermost frame of the thread ends, with every library lock released.
#pragma once

#include <functional>

namespace quiltra {

class LibraryFrame {
public:
    LibraryFrame();
    // The outermost frame runs the deferred work, in the order it was deferred (work that
    // defers more work has it run too).
    ~LibraryFrame();
    LibraryFrame(const LibraryFrame&) = delete;
    LibraryFrame& operator=(const LibraryFrame&) = delete;

    // True when the calling thread is inside a frame that itself runs inside another frame:
    // the library has called the host, and the host called the library again.
    static bool nested();
    // Runs `work` when the calling thread's outermost frame ends; at once when the thread
    // is in no frame.
    static void defer(std::function<void()> work);
};

}  // namespace quiltra
