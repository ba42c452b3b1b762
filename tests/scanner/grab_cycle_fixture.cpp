#include "grab_cycle_fixture.h"

#include "platform/one_shot_timer.h"

namespace quiltra::test {

std::string scannerSections(const std::vector<int>& ports, int scans, int rows, int columns,
                            const std::string& keys, bool threaded, const std::string& name) {
    std::string text = "[" + name + "]\nCameras=" + std::to_string(ports.size()) +
                       "\nScans=" + std::to_string(scans) + "\nThreaded=" + (threaded ? "1" : "0") +
                       "\nSize_x=" + std::to_string(rows) +
                       "\nSize_y=" + std::to_string(columns * static_cast<int>(ports.size())) +
                       "\n" + keys;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += "[" + name + ".Camera" + std::to_string(i + 1) +
                "]\nPort=" + std::to_string(ports[i]) + "\n";
    }
    return text;
}

FinalImageModel::FinalImageModel(int width, int bandHeight, int scans, int bytesPerPixel)
    : width(width),
      bandHeight(bandHeight),
      scans(scans),
      bytesPerPixel(bytesPerPixel),
      bytes(static_cast<std::size_t>(width) * bandHeight * scans * bytesPerPixel, 0) {}

void FinalImageModel::place(int band, int firstColumn, int port, int frame, int cameraWidth,
                            int cameraHeight, int outputColumns, int outputRows) {
    const int rowBytes = outputColumns * bytesPerPixel;
    for (int k = 0; k < outputRows * rowBytes && k < cameraWidth * cameraHeight * bytesPerPixel;
         ++k) {
        const int row = band * bandHeight + k / rowBytes;
        const int column = firstColumn * bytesPerPixel + k % rowBytes;
        const int sourcePixel = k / bytesPerPixel;
        bytes[static_cast<std::size_t>(row) * width * bytesPerPixel + column] = fake::pixel(
            port, sourcePixel / cameraWidth, sourcePixel % cameraWidth, k % bytesPerPixel, frame);
    }
}

GrabCycle::GrabCycle() {
    platform::useManualTime(true);
}

GrabCycle::~GrabCycle() {
    finalize();
    platform::useManualTime(false);
}

void GrabCycle::start(const std::string& sections, const std::vector<int>& ports, int width,
                      int height, int bits, int verbose) {
    useDriver("fake_driver", verbose);
    for (int port : ports) {
        driver().setImageSize(port, width, height);
        driver().setPropertyValue(port, "PixelSize", bits);
    }
    bytesPerPixel_ = (bits + 7) / 8;
    startCalls_ = recorder_.calls().size();
    const std::string file = dir_.file("Quiltra.ini");
    writeFile(file, readFile(file) + "ResampleDLL=" + resampler_.path() + "\n" + sections);
    ASSERT_EQ(initializeHost(), 1);
    for (int port : ports) {
        openCamera(port);
    }
    DebugMessages::clear();
}

void GrabCycle::openScanner(int port, const char* name) {
    ASSERT_EQ(openCVLPort(0, port, name, size_), 1);
    ASSERT_EQ(setCompleteCallback(0, port, &CallbackRecorder::callback), 1);
}

void GrabCycle::deliver(const std::vector<int>& ports) {
    for (int port : ports) {
        driver().deliver(0, port);
        driver().waitForDeliveries();
    }
}

std::vector<uint8_t> GrabCycle::finalImage(int port) {
    const std::size_t rowBytes = static_cast<std::size_t>(size_[0]) * bytesPerPixel_;
    std::vector<uint8_t> image(rowBytes * size_[1]);
    for (int row = 0; row < size_[1]; ++row) {
        EXPECT_EQ(getCVLGrabRow(0, port, image.data() + row * rowBytes, row, 0, size_[0] - 1), 1);
    }
    return image;
}

std::vector<std::string> GrabCycle::callsSince(std::size_t skip) const {
    std::vector<std::string> texts;
    const std::vector<CallbackCall> calls = recorder_.calls();
    for (std::size_t i = startCalls_ + skip; i < calls.size(); ++i) {
        texts.push_back(std::to_string(calls[i].grabber) + "," + std::to_string(calls[i].port));
    }
    return texts;
}

}  // namespace quiltra::test
