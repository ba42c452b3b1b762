#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/fixed_text.h"

namespace quiltra::platform {

namespace {

enum class Target { kStandardError, kFile, kDiscard };

// Where the output goes, fixed at the first write. Trivially destructible on purpose: the
// library may be unloaded, or the process may exit, while another thread still writes.
struct Destination {
    Target target = Target::kStandardError;
    char path[4096] = {};
};

Destination readDestination() {
    Destination destination;
    const char* variable = std::getenv("QUILTRA_DEBUG_OUTPUT");
    if (variable == nullptr || variable[0] == '\0') {
        return destination;
    }
    if (std::strcmp(variable, "none") == 0) {
        destination.target = Target::kDiscard;
    } else if (std::strlen(variable) < sizeof destination.path) {
        destination.target = Target::kFile;
        copyText(destination.path, sizeof destination.path, variable);
    }
    return destination;
}

const Destination& destination() {
    static const Destination chosen = readDestination();  // thread-safe, read once
    return chosen;
}

void writeAll(int descriptor, const char* text, std::size_t length) {
    // One write; the loop only finishes what a signal or a full pipe interrupted.
    while (length > 0) {
        const ssize_t written = write(descriptor, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace

bool debugOutputRedirected() {
    return destination().target != Target::kStandardError;
}

void outputDebugString(const char* text) {
    if (text == nullptr) {
        return;
    }
    const Destination& where = destination();
    const std::size_t length = std::strlen(text);
    switch (where.target) {
        case Target::kDiscard:
            return;
        case Target::kStandardError:
            writeAll(STDERR_FILENO, text, length);
            return;
        case Target::kFile: {
            // Opened for each text, so a test may remove the file between its cases; with
            // O_APPEND every text lands whole at the end, even from several threads.
            const int descriptor =
                open(where.path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            if (descriptor >= 0) {
                writeAll(descriptor, text, length);
                close(descriptor);
            }
            return;
        }
    }
}

}  // namespace quiltra::platform
