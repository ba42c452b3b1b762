#include "host/scanner_list.h"

#include <algorithm>

#include "scanner/scanner.h"

namespace quiltra {

void ScannerList::remove(const Scanner* scanner) {
    auto it = std::find(scanners_.begin(), scanners_.end(), scanner);
    if (it != scanners_.end()) {
        scanners_.erase(it);
    }
}

Scanner* ScannerList::find(const char* name) const {
    for (Scanner* scanner : scanners_) {
        if (scanner->name == name) {
            return scanner;
        }
    }
    return nullptr;
}

}  // namespace quiltra
