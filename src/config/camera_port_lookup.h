// What scanner construction needs to know about a port of the port table, without knowing
// the table: the host side implements it.
#pragma once

#include <cstdint>

namespace quiltra {

// One port as construction sees it.
struct CameraPort {
    bool hasBinding = false;  // a real camera of the underlying driver is open on it
    bool hasScanner = false;  // a scanner is open on it
    int32_t width = 0;        // image size the driver reported when the port was opened
    int32_t height = 0;
};

class CameraPortLookup {
public:
    // Ports are numbered 0 to kPortCount - 1; lookup is only asked about those.
    static constexpr int32_t kPortCount = 128;

    virtual ~CameraPortLookup() = default;
    virtual CameraPort lookup(int32_t port) const = 0;
};

}  // namespace quiltra
