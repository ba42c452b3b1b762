#include "scanner/library_frame.h"

#include <utility>
#include <vector>

namespace quiltra {

namespace {

using Work = std::vector<std::function<void()>>;

// Both per thread, so they need no guard. Plain values only: a thread-local object with a
// destructor would have to be destroyed at each thread's exit, which on Windows runs under
// the loader lock and can hang a process that ends while a driver's thread ends.
thread_local int depth = 0;
// (Hence also a plain pointer here rather than an owning one.)
thread_local Work* deferred = nullptr;  // made by the first deferral, freed when run

}  // namespace

LibraryFrame::LibraryFrame() {
    ++depth;
}

LibraryFrame::~LibraryFrame() {
    if (depth == 1 && deferred != nullptr) {
        // Still inside the frame while the work runs, so work that closes another port
        // from here defers again (to this same list) instead of nesting.
        for (std::size_t i = 0; i < deferred->size(); ++i) {
            std::function<void()> work = std::move((*deferred)[i]);
            try {
                work();
            } catch (...) {
                // One failed close must not keep the others from completing.
            }
        }
        delete std::exchange(deferred, nullptr);
    }
    --depth;
}

bool LibraryFrame::nested() {
    return depth > 1;
}

void LibraryFrame::defer(std::function<void()> work) {
    if (depth == 0) {
        work();
        return;
    }
    if (deferred == nullptr) {
        deferred = new Work;
    }
    deferred->push_back(std::move(work));
}

}  // namespace quiltra
