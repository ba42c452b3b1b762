#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quiltra::platform {
namespace {

// The redirection is read once per process, at the first write: it is set up before any
// test runs, and the file is emptied by each test.
const test::TempDir& outputFolder() {
    static const auto folder = std::make_unique<test::TempDir>();
    return *folder;
}

std::string outputFile() {
    return outputFolder().file("debug.txt");
}

const bool kRedirected = [] {
    const std::string path = outputFile();
#if defined(_WIN32)
    SetEnvironmentVariableA("QUILTRA_DEBUG_OUTPUT", path.c_str());
#else
    setenv("QUILTRA_DEBUG_OUTPUT", path.c_str(), 1);
#endif
    return true;
}();

class DebugOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kRedirected);
        std::remove(outputFile().c_str());
    }
};

TEST_F(DebugOutput, TextGoesToTheFileByteForByte) {
    outputDebugString("first line\n");
    outputDebugString("no newline");
    outputDebugString("\r\nwindows line end\n");
    outputDebugString(nullptr);
    EXPECT_EQ(test::readFile(outputFile()), "first line\nno newline\r\nwindows line end\n");
    EXPECT_TRUE(debugOutputRedirected());
}

TEST_F(DebugOutput, MessageBoxBecomesOneConfigurationLine) {
    showMessageBox(nullptr, "Scanner0001 saved to /tmp/Quiltra.ini", "Quiltra");
    showMessageBox(nullptr, nullptr, nullptr);
    EXPECT_EQ(test::readFile(outputFile()),
              "Quiltra configuration: Scanner0001 saved to /tmp/Quiltra.ini\n"
              "Quiltra configuration: \n");
}

TEST_F(DebugOutput, TextsOfSeveralThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    const std::string filler(100, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string line = "thread " + std::to_string(t) + " " + filler + "\n";
            for (int i = 0; i < kLines; ++i) {
                outputDebugString(line.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::istringstream lines(test::readFile(outputFile()));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_EQ(line.size(), 9 + filler.size()) << line;
        ASSERT_EQ(line.substr(9), filler);
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace quiltra::platform
