#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "config/scanner_builder.h"
#include "scanner/scanner.h"

namespace quiltra {
namespace {

TEST(PassThruList, ItemsAreKeptWithinTheScanCountAndNegativesCountFromTheEnd) {
    Scanner scanner(nullptr, "Scanner0001", 0, 0);
    scanner.setScanCount(4);
    const struct {
        const char* text;
        std::vector<int32_t> list;
    } cases[] = {
        {"1,-1", {1, 4}},
        {"0", {0}},
        {"-4", {1}},
        {"2,,3", {2, 0, 3}},
        {"1,", {1}},
        {"x5", {0}},
        {"5", {}},
        {"-5", {}},
        {"-", {}},
        {"", {}},
        {nullptr, {}},
        {" 3, 2", {3, 2}},
        {"-1,-2,-3", {4, 3, 2}},
        {"99999999999", {}},
        {"-2147483648", {}},
        {"4,1", {4, 1}},
        {"--", {0}},
        {",", {0}},
    };
    for (const auto& c : cases) {
        const int count = setPassThruList(scanner, c.text);
        std::lock_guard guard(scanner.lock);
        EXPECT_EQ(scanner.passThru, c.list) << (c.text ? c.text : "null");
        EXPECT_EQ(count, static_cast<int>(c.list.size()));
    }
}

TEST(PassThruList, ReplacesTheWholeListWithTheCountOfThatMoment) {
    Scanner scanner(nullptr, "Scanner0001", 0, 0);
    scanner.setScanCount(2);
    setPassThruList(scanner, "1,2");
    scanner.setScanCount(6);
    EXPECT_EQ(setPassThruList(scanner, "-1"), 1);
    std::lock_guard guard(scanner.lock);
    EXPECT_EQ(scanner.passThru, std::vector<int32_t>{6});
}

}  // namespace
}  // namespace quiltra
