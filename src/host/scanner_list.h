// The open scanners in the order they were opened: the completion hook offers each image
// to them in this order, the reset check visits them in it, and configureCamera finds a
// scanner by name here. Each entry stands for its scanner port, which it leaves when the
// port is closed.
#pragma once

#include <memory>
#include <vector>

namespace quiltra {

class Scanner;

// Guarded by the DriverLock, like the port table. The hook copies references from it under
// that lock and uses them after releasing it.
class ScannerList {
public:
    void append(std::shared_ptr<Scanner> scanner) { scanners_.push_back(std::move(scanner)); }
    // Removes the entry equal to `scanner`, keeping the order of the rest.
    void remove(const Scanner* scanner);
    // The first open scanner named `name` exactly, or null.
    std::shared_ptr<Scanner> find(const char* name) const;
    const std::vector<std::shared_ptr<Scanner>>& scanners() const { return scanners_; }
    bool empty() const { return scanners_.empty(); }

private:
    std::vector<std::shared_ptr<Scanner>> scanners_;
};

}  // namespace quiltra
