// The open scanners in the order they were opened: the completion hook offers each image
// to them in this order, and configureCamera finds a scanner by name here. It only refers
// to the scanners; their scanner ports own them.
#pragma once

#include <vector>

namespace quiltra {

class Scanner;

// Guarded by the DriverLock, like the port table.
class ScannerList {
public:
    void append(Scanner* scanner) { scanners_.push_back(scanner); }
    // Removes the entry equal to `scanner`, keeping the order of the rest.
    void remove(const Scanner* scanner);
    // The first open scanner named `name` exactly, or null.
    Scanner* find(const char* name) const;
    const std::vector<Scanner*>& scanners() const { return scanners_; }
    bool empty() const { return scanners_.empty(); }

private:
    std::vector<Scanner*> scanners_;
};

}  // namespace quiltra
