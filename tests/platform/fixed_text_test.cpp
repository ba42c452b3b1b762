#include "platform/fixed_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <string>

namespace quiltra::platform {
namespace {

TEST(FixedText, CopyCutsToTheBufferAndAlwaysTerminates) {
    char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(copyText(buffer, sizeof buffer, "abcdefgh"), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(copyText(buffer, sizeof buffer, "ab"), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(copyText(buffer, sizeof buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(copyText(buffer, 1, "abc"), 0u);
    EXPECT_STREQ(buffer, "");

    buffer[0] = 'q';
    EXPECT_EQ(copyText(buffer, 0, "abc"), 0u);
    EXPECT_EQ(buffer[0], 'q');
    EXPECT_EQ(copyText(nullptr, 8, "abc"), 0u);
}

TEST(FixedText, FormatCutsToTheBufferAndCountsWhatItWrote) {
    char buffer[8];
    EXPECT_EQ(formatText(buffer, sizeof buffer, "%s:%d", "Scanner", 12), 7u);
    EXPECT_STREQ(buffer, "Scanner");
    EXPECT_EQ(formatText(buffer, sizeof buffer, "%d/%d", 3, 4), 3u);
    EXPECT_STREQ(buffer, "3/4");
    EXPECT_EQ(formatText(buffer, 1, "%d", 12345), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(formatText(nullptr, 0, "%d", 1), 0u);
}

struct GCase {
    double value;
    const char* expected;
};

TEST(FixedText, FormatGGivesSixSignificantDigits) {
    const GCase cases[] = {
        {0.123456789f, "0.123457"},
        {static_cast<float>(100.0000001), "100"},
        {1e6, "1e+06"},
        {1234567.0f, "1.23457e+06"},
        {0.0, "0"},
        {-2.5, "-2.5"},
        {1e-5, "1e-05"},
        {120.0f, "120"},
    };
    for (const GCase& c : cases) {
        EXPECT_EQ(formatG(c.value), c.expected);
        char buffer[32];
        formatText(buffer, sizeof buffer, "%g", c.value);
        EXPECT_STREQ(buffer, c.expected) << "through formatText";
    }
}

struct FloatCase {
    const char* text;
    double expected;
};

TEST(FixedText, ParseFloatReadsTheLeadingNumberLikeAtof) {
    const FloatCase cases[] = {
        {"2.5e1", 25.0}, {"abc", 0.0},     {"", 0.0},    {"  -1.5xyz", -1.5},
        {"+3", 3.0},     {".5", 0.5},      {"1,5", 1.0}, {"100.0000001", 100.0000001},
        {"1e", 1.0},     {"\t0.25", 0.25}, {"-", 0.0},
    };
    for (const FloatCase& c : cases) {
        EXPECT_DOUBLE_EQ(parseFloat(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(parseFloat(nullptr), 0.0);
}

struct IntCase {
    const char* text;
    int expected;
};

TEST(FixedText, ParseIntStopsAtTheFirstOtherCharacterAndClamps) {
    const IntCase cases[] = {
        {"42", 42},
        {"  -17abc", -17},
        {"+8", 8},
        {"\t7", 7},
        {"12 34", 12},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"99999999999999999999999999999", INT_MAX},
        {"-99999999999999999999999999999", INT_MIN},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(parseInt(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_EQ(parseInt(nullptr), 0);
}

// A host that set a locale with a decimal comma must still get and read decimal points.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German", "de-DE"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                char probe[16];
                std::snprintf(probe, sizeof probe, "%.1f", 2.5);
                if (std::string(probe) == "2,5") {
                    return;
                }
            }
        }
        std::setlocale(LC_ALL, "C");
        GTEST_SKIP() << "no German locale installed";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(GermanLocale, NumbersStillUseADecimalPoint) {
    EXPECT_EQ(formatG(0.123456789f), "0.123457");
    char buffer[32];
    formatText(buffer, sizeof buffer, "%g %.1f", 0.5, 2.25);
    EXPECT_STREQ(buffer, "0.5 2.2");
    EXPECT_DOUBLE_EQ(parseFloat("2.5e1"), 25.0);
    EXPECT_DOUBLE_EQ(parseFloat("0.75"), 0.75);
    EXPECT_EQ(parseInt("-12,5"), -12);

    // The host's own locale is untouched.
    std::snprintf(buffer, sizeof buffer, "%.1f", 2.5);
    EXPECT_STREQ(buffer, "2,5");
}

}  // namespace
}  // namespace quiltra::platform
