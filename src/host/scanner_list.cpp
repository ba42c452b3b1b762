#include "host/scanner_list.h"

#include <algorithm>

#include "scanner/scanner.h"

namespace quiltra {

void ScannerList::remove(const Scanner* scanner) {
    auto it = std::find_if(scanners_.begin(), scanners_.end(),
                           [&](const auto& entry) { return entry.get() == scanner; });
    if (it != scanners_.end()) {
        scanners_.erase(it);
    }
}

std::shared_ptr<Scanner> ScannerList::find(const char* name) const {
    for (const auto& scanner : scanners_) {
        if (scanner->name == name) {
            return scanner;
        }
    }
    return nullptr;
}

}  // namespace quiltra
