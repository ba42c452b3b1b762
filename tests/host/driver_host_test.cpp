// The library object behind the entry points, reached directly for what the C interface
// does not show before scanners exist: the Verbose flag that initialize reads.
#include "host/driver_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/scanner.h"
#include "test_support.h"

namespace quiltra {
namespace {

std::mutex messagesMutex;
std::vector<std::string> messages;

void QUILTRA_CALL collect(const char* text) {
    std::lock_guard<std::mutex> lock(messagesMutex);
    messages.emplace_back(text);
}

TEST(DriverHostVerbose, InitializeReadsVerboseFromConfigAndTheMessagePathFollowsIt) {
    struct Case {
        const char* verboseLine;
        int expected;
        std::vector<std::string> reaching;
    };
    const Case cases[] = {
        {"Verbose=0\n", 0, {"plain\n"}},
        {"", 0, {"plain\n"}},
        {"Verbose=1\n", 1, {"plain\n", "verbose\n"}},
        {"Verbose= 2x\n", 2, {"plain\n", "verbose\n"}},
    };
    DriverHost& host = DriverHost::instance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verboseLine);
        test::TempDir dir;
        test::writeFile(dir.file("Quiltra.ini"),
                        std::string("[Config]\nCameraDriver=\n") + c.verboseLine);
        host.initialize(dir.str().c_str(), &collect);
        ASSERT_NE(host.binding(), nullptr);
        EXPECT_EQ(host.binding()->verbose(), c.expected);
        messages.clear();
        host.binding()->plainMessage("plain\n");
        host.binding()->verboseMessage("verbose\n");
        EXPECT_EQ(messages, c.reaching);
        host.finalize();
        EXPECT_EQ(host.binding(), nullptr);
    }
}

TEST(PortTableScanners, AReleasedOrClearedSlotNoLongerHoldsItsScanner) {
    for (const bool clearAll : {false, true}) {
        PortTable ports;
        auto scanner = std::make_shared<Scanner>(nullptr, "Scanner0001", 0, 7);
        const std::weak_ptr<Scanner> watch = scanner;
        ASSERT_TRUE(ports.reserve(7));
        ports.fillScanner(7, std::move(scanner), 0, 0);
        EXPECT_EQ(ports.scanner(7), watch.lock());
        if (clearAll) {
            ports.clear();
        } else {
            ports.release(7);
        }
        EXPECT_EQ(ports.scanner(7), nullptr);
        EXPECT_TRUE(watch.expired()) << (clearAll ? "clear" : "release");
    }
}

}  // namespace
}  // namespace quiltra
