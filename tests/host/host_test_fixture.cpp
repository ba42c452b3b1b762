#include "host_test_fixture.h"

namespace quiltra::test {

std::mutex DebugMessages::mutex_;
std::vector<std::string> DebugMessages::texts_;

void QUILTRA_CALL DebugMessages::collect(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.emplace_back(text != nullptr ? text : "<null>");
}

std::vector<std::string> DebugMessages::all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
}

void DebugMessages::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.clear();
}

std::atomic<CallbackRecorder*> CallbackRecorder::current_{nullptr};

CallbackRecorder::CallbackRecorder() {
    current_.store(this);
}

CallbackRecorder::~CallbackRecorder() {
    current_.store(nullptr);
}

void QUILTRA_CALL CallbackRecorder::callback(int grabber, int port) {
    CallbackRecorder* recorder = current_.load();
    if (recorder != nullptr) {
        std::lock_guard<std::mutex> lock(recorder->mutex_);
        recorder->calls_.push_back({grabber, port, std::this_thread::get_id()});
    }
}

std::vector<CallbackCall> CallbackRecorder::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

HostTest::HostTest() {
    DebugMessages::clear();
}

HostTest::~HostTest() {
    // Library state is global: every test leaves it uninitialised.
    finalize();
}

void HostTest::useDriver(const std::string& variant, int verbose) {
    fake_.reset();
    fake_ = std::make_unique<fake::FakeDriverLibrary>(libraryPath(variant));
    writeFile(dir_.file("Quiltra.ini"), "[Config]\nCameraDriver=" + libraryPath(variant) +
                                            "\nVerbose=" + std::to_string(verbose) + "\n");
}

int HostTest::initializeHost() {
    return initialize(dir_.str().c_str(), &DebugMessages::collect);
}

void HostTest::startWithDriver(const std::string& variant) {
    useDriver(variant);
    ASSERT_EQ(initializeHost(), 1);
    driver().clearCalls();
}

void HostTest::openCamera(int port, int grabber) {
    int size[2] = {0, 0};
    ASSERT_EQ(openCVLPort(grabber, port, "Camera", size), 1);
    driver().clearCalls();
}

}  // namespace quiltra::test
