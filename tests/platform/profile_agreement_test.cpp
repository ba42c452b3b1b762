// The comparison of private-profile transcripts: a difference is put down to a documented
// rule only when that rule alone explains it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "profile_cases.h"
#include "profile_transcript.h"

namespace quiltra::test {
namespace {

OpRecord op(const std::string& kind, std::vector<Token> args, std::vector<Token> results) {
    return OpRecord{kind, std::move(args), std::move(results)};
}

TEST(ProfileAgreement, DifferencesAreNamedOnlyWhenADocumentedRuleExplainsThem) {
    using E = Exception;
    const std::vector<Token> writeArgs = {"S", "k", "v", "0"};
    const std::vector<Token> breakArgs = {"S", "k", " v\nx=1", "0"};
    const struct {
        const char* what;
        OpRecord ours;
        OpRecord windows;
        std::vector<Exception> exceptions;
        bool unexplained;
        Token file = std::nullopt;  // as it stood before the operation
    } cases[] = {
        {"the same",
         op("write", writeArgs, {"1", "[S]\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\nk=v\n"}),
         {},
         false},
        {"CRLF only",
         op("write", writeArgs, {"1", "[S]\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\r\nk=v\r\n"}),
         {E::lineEnds},
         false},
        {"CRLF and another line",
         op("write", writeArgs, {"1", "[S]\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\r\nk=w\r\n"}),
         {E::lineEnds},
         true},
        {"blank lines we keep",
         op("write", writeArgs, {"1", "[S]\n\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\r\nk=v\r\n"}),
         {E::lineEnds, E::blankLines},
         false},
        {"blank lines Windows keeps",
         op("write", writeArgs, {"1", "[S]\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\n\nk=v\n"}),
         {},
         true},
        {"a line break cut",
         op("write", breakArgs, {"1", "[S]\nk=v\n"}),
         op("write", breakArgs, {"1", "[S]\r\nk=v\nx=1\r\n"}),
         {E::lineBreakCut, E::lineEnds},
         false},
        {"a line break, the rest differing",
         op("write", breakArgs, {"1", "[S]\nk=v\n"}),
         op("write", breakArgs, {"1", "[S]\r\nk=v\nx=1\r\nz=1\r\n"}),
         {E::lineBreakCut, E::lineEnds},
         true},
        {"a write that failed on one side",
         op("write", writeArgs, {"0", "[S]\n"}),
         op("write", writeArgs, {"1", "[S]\n"}),
         {},
         true},
        {"clamped",
         op("getInt", {"S", "k", "0"}, {"2147483647", "4294967297"}),
         op("getInt", {"S", "k", "0"}, {"1", "4294967297"}),
         {E::integerClamp},
         false},
        {"clamped below",
         op("getInt", {"S", "k", "0"}, {"-2147483648", "-2147483649x"}),
         op("getInt", {"S", "k", "0"}, {"2147483647", "-2147483649x"}),
         {E::integerClamp},
         false},
        {"wrapped otherwise than Windows does",
         op("getInt", {"S", "k", "0"}, {"2147483647", "4294967297"}),
         op("getInt", {"S", "k", "0"}, {"2", "4294967297"}),
         {},
         true},
        {"within 32 bits",
         op("getInt", {"S", "k", "0"}, {"12", "12"}),
         op("getInt", {"S", "k", "0"}, {"13", "12"}),
         {},
         true},
        {"hex",
         op("getInt", {"S", "k", "0"}, {"0", " -0x1F"}),
         op("getInt", {"S", "k", "0"}, {"-31", " -0x1F"}),
         {E::hexNotRead},
         false},
        {"hex read otherwise",
         op("getInt", {"S", "k", "0"}, {"0", "0x1F"}),
         op("getInt", {"S", "k", "0"}, {"16", "0x1F"}),
         {},
         true},
        {"different raw texts",
         op("getInt", {"S", "k", "0"}, {"0", "0x10"}),
         op("getInt", {"S", "k", "0"}, {"16", "0x1"}),
         {},
         true},
        {"a text read",
         op("getString", {"S", "k", "d", "8"}, {"1", "a"}),
         op("getString", {"S", "k", "d", "8"}, {"1", "b"}),
         {},
         true},
        {"lines re-formed",
         op("write", writeArgs, {"1", "\xEF\xBB\xBF[S] ; n\n a = b \n=1\n\n=2\nk=v\n"}),
         op("write", writeArgs, {"1", "\xEF\xBB\xBF[S]\r\na=b\r\n=1\r\nk=v\r\n"}),
         {E::lineEnds, E::untouchedLinesReformed},
         false},
        {"lines re-formed, another differing",
         op("write", writeArgs, {"1", "[S]\n a = b \nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\r\na=c\r\nk=v\r\n"}),
         {E::lineEnds},
         true},
        {"an empty name after another one, kept",
         op("write", writeArgs, {"1", "[S]\n =1\n=2\nk=v\n"}),
         op("write", writeArgs, {"1", "[S]\n=1\n=2\nk=v\n"}),
         {E::untouchedLinesReformed},
         false},
        {"an empty name after another line is kept",
         op("write", writeArgs, {"1", "[S]\n=1\nx=2\n=3\n"}),
         op("write", writeArgs, {"1", "[S]\n=1\nx=2\n"}),
         {},
         true},
        {"a new name's trailing blanks are no re-forming",
         op("write", {"S ", "k\t", "v", "0"}, {"1", "[S]\nk=v\n"}),
         op("write", {"S ", "k\t", "v", "0"}, {"1", "[S ]\nk\t=v\n"}),
         {},
         true},
        {"a removal under a name with blanks",
         op("write", {" S", "k", std::nullopt, "0"}, {"1", "[S]\n"}),
         op("write", {" S", "k", std::nullopt, "0"}, {"1", "[S]\nk=1\n"}),
         {},
         true},
        {"a quoted value cut by the buffer",
         op("getString", {"s", "K", "", "4"}, {"3", "'v'"}),
         op("getString", {"s", "K", "", "4"}, {"2", "'v"}),
         {E::quotesBeforeCut},
         false,
         "[S]\n k = \"'v'\" \n"},
        {"a value without quotes",
         op("getString", {"S", "k", "", "4"}, {"3", "'v'"}),
         op("getString", {"S", "k", "", "4"}, {"2", "'v"}),
         {},
         true,
         "[S]\nk='v'x\n"},
        {"a quoted value the buffer holds",
         op("getString", {"S", "k", "", "8"}, {"3", "'v'"}),
         op("getString", {"S", "k", "", "8"}, {"2", "'v"}),
         {},
         true,
         "[S]\nk=\"'v'\"\n"},
    };
    for (const auto& c : cases) {
        const OpVerdict verdict = compareOp(c.ours, c.windows, c.file);
        EXPECT_EQ(verdict.exceptions, c.exceptions) << c.what;
        EXPECT_EQ(!verdict.unexplained.empty(), c.unexplained)
            << c.what << ": " << verdict.unexplained;
    }
}

TEST(ProfileAgreement, TranscriptsRoundTripAndCountCases) {
    const std::string bytes = std::string("[S]\r\n\"q\" \\ \t\xEF\xBB\xBF\x01=", 17);
    const OpRecord written = op("write", {"S", std::nullopt, bytes, "0"}, {"1", bytes});
    const std::string transcript = "C 7\nF -\n" + formatOp(written) + "\nE\r\nC 8\nF \"\"\nE\n";
    std::istringstream in(transcript);
    CaseRecord record;
    ASSERT_TRUE(readCase(in, record));
    EXPECT_EQ(record.index, 7u);
    EXPECT_FALSE(record.file);
    ASSERT_EQ(record.ops.size(), 1u);
    EXPECT_EQ(record.ops[0].args, written.args);
    EXPECT_EQ(record.ops[0].results, written.results);

    std::istringstream ours(transcript);
    std::istringstream windows("C 7\nF -\n" + formatOp(op("write", written.args, {"1", "x"})) +
                               "\nE\nC 8\nF \"\"\nE\n");
    const AgreementReport report = compareTranscripts(ours, windows, 5);
    EXPECT_EQ(report.cases, 2u);
    EXPECT_EQ(report.operations, 1u);
    EXPECT_EQ(report.exact, 1u);
    EXPECT_EQ(report.unexplained, 1u);
    ASSERT_EQ(report.examples.size(), 1u);

    std::istringstream cut("C 9\nF -\n");
    EXPECT_THROW(readCase(cut, record), std::runtime_error);
    std::istringstream shorter("C 7\nF -\nE\n");
    std::istringstream again(transcript);
    EXPECT_THROW(compareTranscripts(again, shorter, 5), std::runtime_error);
}

TEST(ProfileAgreement, CasesDependOnlyOnSeedAndIndex) {
    const auto text = [](std::uint64_t seed, std::uint64_t index) {
        const ProfileCase c = makeProfileCase(seed, index);
        std::string all = escapeToken(c.file);
        for (const ProfileOp& profileOp : c.ops) {
            all += formatOp(describe(profileOp));
        }
        return all;
    };
    EXPECT_EQ(text(1, 5), text(1, 5));
    EXPECT_NE(text(1, 5), text(1, 6));
    EXPECT_NE(text(1, 5), text(2, 5));
}

}  // namespace
}  // namespace quiltra::test
