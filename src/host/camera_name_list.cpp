#include "host/camera_name_list.h"

#include <algorithm>
#include <cstring>

#include "driver/driver_binding.h"

namespace quiltra {

bool isScannerName(const char* name) {
    if (name == nullptr) {
        return false;
    }
    return std::any_of(kScannerNames.begin(), kScannerNames.end(),
                       [name](const char* scanner) { return std::strcmp(name, scanner) == 0; });
}

DriverCameraNames CameraNameList::fetchDriverNames(const DriverEntries* entries) {
    if (entries == nullptr || entries->getCVLNoOfSupportedCameras == nullptr) {
        return {};
    }
    int reported = entries->getCVLNoOfSupportedCameras();
    if (reported <= 0 || entries->getCVLCameraConfigNames == nullptr) {
        return {};
    }
    const char* const* names = entries->getCVLCameraConfigNames();
    if (names == nullptr) {
        return {};
    }
    int count = 0;
    int limit = std::min(reported, kMaxDriverNames);
    while (count < limit && names[count] != nullptr) {
        ++count;
    }
    return {names, count};
}

int CameraNameList::supportedCameras(const DriverCameraNames& driverNames) {
    if (driverNames.count == 0) {
        return 0;
    }
    return driverNames.count + static_cast<int>(kScannerNames.size());
}

const char** CameraNameList::rebuild(const DriverCameraNames& driverNames) {
    std::lock_guard<std::mutex> lock(mutex_);
    int next = 0;
    for (; next < driverNames.count; ++next) {
        entries_[next] = driverNames.names[next];
    }
    if (driverNames.count > 0) {
        for (const char* scanner : kScannerNames) {
            entries_[next++] = scanner;
        }
    }
    std::fill(entries_ + next, entries_ + kSize, nullptr);
    return entries_;
}

}  // namespace quiltra
