// What the grab-cycle tests share: a host (the C interface, linked in statically) with real
// cameras of the fake driver and scanners over them, the timer service on its manual clock,
// and a model of the final image that the assembly must produce.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "host_test_fixture.h"

namespace quiltra::test {

constexpr int kScannerPort = 10;

// The sections of a scanner named `name` over cameras on `ports`: each camera's field is its
// whole image (rows x columns) at pitch 1, processed on the driver's thread unless
// `threaded`. `keys` go into the scanner's section.
std::string scannerSections(const std::vector<int>& ports, int scans, int rows, int columns,
                            const std::string& keys = "", bool threaded = false,
                            const std::string& name = "Scanner0001");

// A final image as the assembly must fill it: each camera image of frame f is the first
// output rows x columns x bytesPerPixel bytes of what the fake driver serves (a plain copy
// and the fake resampler agree on that), placed in its band and segment; the rest is 0.
struct FinalImageModel {
    FinalImageModel(int width, int bandHeight, int scans, int bytesPerPixel);
    // Camera image `frame` of `port` (width x height pixels) into `band`, at `firstColumn`
    // of the final image, with the given output size.
    void place(int band, int firstColumn, int port, int frame, int width, int height,
               int outputColumns, int outputRows);

    int width, bandHeight, scans, bytesPerPixel;
    std::vector<uint8_t> bytes;
};

class GrabCycle : public HostTest {
protected:
    GrabCycle();
    ~GrabCycle() override;

    // The fake driver with `verbose`, [Config] naming the fake resampler, then `sections`;
    // initialize, then real cameras of width x height pixels and `bits` per pixel on `ports`.
    void start(const std::string& sections, const std::vector<int>& ports, int width = 6,
               int height = 4, int bits = 8, int verbose = 0);
    // Opens `name` on `port` with the recorder as its completion callback.
    void openScanner(int port = kScannerPort, const char* name = "Scanner0001");
    // Announces one image of each port in order, each handed over before the next.
    void deliver(const std::vector<int>& ports);
    // The final image of the scanner on `port`, read row by row.
    std::vector<uint8_t> finalImage(int port = kScannerPort);
    // The recorder's calls since the last start(), skipping the first `skip`, as
    // "grabber,port".
    std::vector<std::string> callsSince(std::size_t skip = 0) const;

    int size_[2] = {0, 0};
    int bytesPerPixel_ = 1;
    CallbackRecorder recorder_;
    std::size_t startCalls_ = 0;  // the recorder's calls before the last start()
    FakePlugin resampler_{"fake_resampler"};
};

}  // namespace quiltra::test
