// What the host-level tests share: a fixture that plays the host (a system folder with a
// Quiltra.ini naming a fake driver, a debug procedure that collects messages, finalize at
// the end) and recorders for the host's callbacks.
#pragma once

#include <gtest/gtest.h>
#include <quiltra/camera_driver.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_driver_library.h"
#include "test_support.h"

namespace quiltra::test {

// The host's debug procedure: collects every text it is given.
class DebugMessages {
public:
    static void QUILTRA_CALL collect(const char* text);
    static std::vector<std::string> all();
    static void clear();

private:
    static std::mutex mutex_;
    static std::vector<std::string> texts_;
};

// A host completion callback that records each call. One recorder per test at a time,
// reached through a plain function, as a C host would do it.
struct CallbackCall {
    int grabber;
    int port;
    std::thread::id thread;
};

class CallbackRecorder {
public:
    CallbackRecorder();
    ~CallbackRecorder();
    static void QUILTRA_CALL callback(int grabber, int port);
    std::vector<CallbackCall> calls() const;

private:
    static std::atomic<CallbackRecorder*> current_;
    mutable std::mutex mutex_;
    std::vector<CallbackCall> calls_;
};

class HostTest : public ::testing::Test {
protected:
    HostTest();
    ~HostTest() override;

    // Loads the fake driver `variant` for scripting and writes a Quiltra.ini naming it
    // (full path) with the given Verbose, before initialize.
    void useDriver(const std::string& variant = "fake_driver", int verbose = 0);
    // initialize with the fixture's folder and the collecting debug procedure.
    int initializeHost();
    // useDriver then initializeHost; the call log is cleared afterwards.
    void startWithDriver(const std::string& variant = "fake_driver");
    // openCVLPort on grabber 0 with a driver camera name; the call log is cleared afterwards.
    void openCamera(int port, int grabber = 0);

    fake::FakeDriverControl& driver() { return fake_->control(); }

    TempDir dir_;
    std::unique_ptr<fake::FakeDriverLibrary> fake_;
};

}  // namespace quiltra::test
