// Commands and properties of an open scanner: execCmd with arbitrary command and argument
// texts and result sizes, setProperty and getProperty with arbitrary names and values, and
// camera images delivered in between, so that what they change meets the grab cycle.
//
// The library is initialised once; each input opens the scanner afresh from the same file
// and closes it at the end. Input: operations of one byte (the kind in the low three bits,
// null arguments above) and their NUL-ended texts and 4-byte numbers.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_host.h"
#include "fuzz_input.h"

namespace {

using quiltra::fuzz::check;
using quiltra::fuzz::FuzzHost;
using quiltra::fuzz::FuzzInput;

constexpr int kScannerPort = 10;

// Two cameras on ports 0 and 1 with a resampler, the second with a second calibration entry
// through the prefilter; not threaded, so every image is placed before delivery returns.
constexpr const char* kConfiguration =
    "[Config]\nCameraDriver=$DRIVER\nResampleDLL=$RESAMPLER\nVerbose=0\n"
    "[Scanner0001]\nCameras=2\nScans=3\nThreaded=0\nSize_x=4\nSize_y=16\nPassThru=1,-1\n"
    "[Scanner0001.Camera1]\nPort=0\n"
    "[Scanner0001.Camera2]\nPort=1\n"
    "[Scanner0001.Camera2.Calib1]\nPrefilter=p.flt\nFilterDLL=$PREFILTER\nCalibFile=c.cal\n";

// A scan count beyond this asks for a final image of gigabytes, which the library allocates
// as asked; larger counts are folded below it, while the edges (0, negative, beyond 32 bits
// as unsigned) stay as given.
constexpr int kLargestScanCount = 4096;

enum Kind { kExec, kSet, kGet, kDeliver, kReadRow };
constexpr int kKinds = 5;
constexpr std::uint8_t kNullName = 1 << 3;
constexpr std::uint8_t kNullArguments = 1 << 4;
constexpr std::uint8_t kNullResult = 1 << 5;

void QUILTRA_CALL ignoreCompletion(int, int) {}

bool named(const std::string& name, const char* expected) {
    if (name.size() != std::strlen(expected)) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(name[i]) != lower(expected[i])) {
            return false;
        }
    }
    return true;
}

void exec(FuzzInput& input, std::uint8_t flags) {
    const std::string command = input.text();
    const std::string arguments = input.text();
    const int resultSize = static_cast<int>(input.int32() % 1024);
    // Exactly the size given, so that a write past it is seen.
    std::vector<char> result(resultSize > 0 ? static_cast<std::size_t>(resultSize) : 1, '\x7f');
    const int answer =
        execCmd(0, kScannerPort, (flags & kNullName) != 0 ? nullptr : command.c_str(),
                (flags & kNullArguments) != 0 ? nullptr : arguments.c_str(),
                (flags & kNullResult) != 0 ? nullptr : result.data(), resultSize);
    check(answer == 0 || answer == 1, "execCmd answers 0 or 1");
    if ((flags & kNullResult) == 0 && resultSize > 0) {
        check(std::memchr(result.data(), '\0', result.size()) != nullptr,
              "the reply is ended inside the buffer");
    }
}

void set(FuzzInput& input, std::uint8_t flags) {
    const std::string name = input.text();
    int value = input.int32();
    if (named(name, "ScanCount") && value > kLargestScanCount) {
        value %= kLargestScanCount;
    }
    setProperty(0, kScannerPort, (flags & kNullName) != 0 ? nullptr : name.c_str(), value);
}

void get(FuzzInput& input, std::uint8_t flags) {
    const std::string name = input.text();
    int value = 0x5a5a5a5a;
    const int answer =
        getProperty(0, kScannerPort, (flags & kNullName) != 0 ? nullptr : name.c_str(),
                    (flags & kNullResult) != 0 ? nullptr : &value);
    check(answer == 1 || value == 0x5a5a5a5a, "a refused read leaves the value alone");
}

// One row of the final image, as wide as the scanner says it is now.
void readRow(FuzzInput& input) {
    const int row = input.int32();
    int width = 0;
    int pixelSize = 0;
    if (getProperty(0, kScannerPort, "Width", &width) != 1 ||
        getProperty(0, kScannerPort, "PixelSize", &pixelSize) != 1 || width <= 0 ||
        pixelSize <= 0 || width > (1 << 20) || pixelSize > 64) {
        return;
    }
    std::vector<char> buffer(static_cast<std::size_t>(width) *
                             static_cast<std::size_t>((pixelSize + 7) / 8));
    getCVLGrabRow(0, kScannerPort, buffer.data(), row, 0, width - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = [] {
        FuzzHost& host = FuzzHost::instance();
        host.writeConfiguration(kConfiguration);
        check(host.initialize() == 1, "the library starts");
        host.openCameras();
        return true;
    }();
    (void)started;
    FuzzHost& host = FuzzHost::instance();
    // Properties write the file; every input starts from the same one.
    host.writeConfiguration(kConfiguration);
    int imageSize[2] = {0, 0};
    check(openCVLPort(0, kScannerPort, "Scanner0001", imageSize) == 1, "the scanner opens");
    setCompleteCallback(0, kScannerPort, &ignoreCompletion);
    setProperty(0, kScannerPort, "Verbose", 0);  // the driver's verbose flag outlives the port

    FuzzInput input(data, size);
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        switch (op % 8 % kKinds) {
            case kExec:
                exec(input, op);
                break;
            case kSet:
                set(input, op);
                break;
            case kGet:
                get(input, op);
                break;
            case kDeliver:
                host.deliver(input.byte() % 2);
                break;
            case kReadRow:
                readRow(input);
                break;
        }
    }
    closeCVLPort(0, kScannerPort);
    host.resetDriverLog();
    return 0;
}
