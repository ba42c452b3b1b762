// The CameraNameList the host reads with getCVLCameraConfigNames: the driver's own camera
// names, then the six scanner names; and the test for a scanner name.
#pragma once

#include <quiltra/camera_driver.h>

#include <array>
#include <mutex>

namespace quiltra {

struct DriverEntries;

// The virtual cameras, in list order. Compared exactly, case included.
inline constexpr std::array<const char*, 6> kScannerNames = {
    "Scanner0001", "Scanner0002", "Scanner0003", "Scanner0004", "Scanner0005", "Scanner0006"};

bool isScannerName(const char* name);

// The driver's camera names as Quiltra lists them: at most kMaxDriverNames, up to the first
// null one. A positive count without a name list, or a null list, gives no names.
struct DriverCameraNames {
    const char* const* names = nullptr;  // the driver's own texts, not copied
    int count = 0;
};

class CameraNameList {
public:
    static constexpr int kSize = QUILTRA_CAMERA_NAME_LIST_SIZE;
    static constexpr int kMaxDriverNames = kSize - static_cast<int>(kScannerNames.size());

    // Asks the driver (entries may be null: no driver) for its count and names.
    static DriverCameraNames fetchDriverNames(const DriverEntries* entries);
    // The count the host is told: the driver's names plus the six scanners, or 0 when the
    // driver lists no camera. It always matches the list that rebuild makes.
    static int supportedCameras(const DriverCameraNames& driverNames);

    // Rebuilds the list: the driver's names, then the scanner names when there was at least
    // one, then null entries. Returns the list, which stays valid for the library's life.
    const char** rebuild(const DriverCameraNames& driverNames);

private:
    std::mutex mutex_;  // serialises rebuilds; entries_ is written only under it
    // Read by the host without a lock through the pointer rebuild returns: a host that reads
    // the list while another of its threads rebuilds it reads entries that are being
    // rewritten with the same names (the list changes only when the driver's names do).
    const char* entries_[kSize] = {};
};

}  // namespace quiltra
