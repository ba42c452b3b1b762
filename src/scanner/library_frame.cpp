#include "scanner/library_frame.h"

#include <utility>
#include <vector>

namespace quiltra {

namespace {

// Both per thread, so they need no guard.
thread_local int depth = 0;
thread_local std::vector<std::function<void()>> deferred;

}  // namespace

LibraryFrame::LibraryFrame() {
    ++depth;
}

LibraryFrame::~LibraryFrame() {
    if (depth == 1) {
        // Still inside the frame while the work runs, so work that closes another port
        // from here defers again instead of nesting.
        for (std::size_t i = 0; i < deferred.size(); ++i) {
            std::function<void()> work = std::move(deferred[i]);
            try {
                work();
            } catch (...) {
                // One failed close must not keep the others from completing.
            }
        }
        deferred.clear();
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
    deferred.push_back(std::move(work));
}

}  // namespace quiltra
