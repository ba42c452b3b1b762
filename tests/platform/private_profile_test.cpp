// The same cases run against our own implementation off Windows and against the system's
// private-profile functions on Windows (under Wine in CI), so both keep the same semantics.
#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace quiltra::platform {
namespace {

// The file's content with CRLF line ends read as LF: Windows writes CRLF, we write LF.
std::string normalised(const std::string& content) {
    std::string result;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
            continue;
        }
        result += content[i];
    }
    return result;
}

class PrivateProfile : public ::testing::Test {
protected:
    std::string read(const char* section, const char* key, const char* fallback = "-",
                     int size = 256) {
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
        const int length =
            getPrivateProfileString(section, key, fallback, buffer.data(), size, path.c_str());
        const std::string text(buffer.data());
        EXPECT_EQ(length, static_cast<int>(text.size())) << section << "/" << key;
        return text;
    }
    int readInt(const char* section, const char* key, int fallback = -99) {
        return getPrivateProfileInt(section, key, fallback, path.c_str());
    }
    bool write(const char* section, const char* key, const char* value) {
        return writePrivateProfileString(section, key, value, path.c_str());
    }
    void given(const std::string& content) { test::writeFile(path, content); }
    std::string content() { return normalised(test::readFile(path)); }
    // Everything in the folder: the file and any temporary file a write left behind.
    long entries() const {
        return std::distance(std::filesystem::directory_iterator(folder.path()),
                             std::filesystem::directory_iterator());
    }

    test::TempDir folder;
    std::string path = folder.file("Quiltra.ini");
};

TEST_F(PrivateProfile, MissingFileGivesDefaultsAndAWriteCreatesIt) {
    EXPECT_EQ(read("Config", "CameraDriver", "fallback"), "fallback");
    EXPECT_EQ(read("Config", "CameraDriver", nullptr), "");
    EXPECT_EQ(readInt("Config", "Verbose", 7), 7);
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_TRUE(write("Config", "CameraDriver", "<cameradriver.dll>"));
    EXPECT_TRUE(write("Config", "FilterDLL", "OvixImageFilter.dll"));
    EXPECT_TRUE(write("Scanner0001", "Cameras", "0"));
    EXPECT_TRUE(write("Scanner0001.Camera1", "Prefilter", ""));
    EXPECT_EQ(content(),
              "[Config]\n"
              "CameraDriver=<cameradriver.dll>\n"
              "FilterDLL=OvixImageFilter.dll\n"
              "[Scanner0001]\n"
              "Cameras=0\n"
              "[Scanner0001.Camera1]\n"
              "Prefilter=\n");
    EXPECT_EQ(read("Config", "CameraDriver"), "<cameradriver.dll>");
    EXPECT_EQ(read("Scanner0001.Camera1", "Prefilter"), "");
}

TEST_F(PrivateProfile, WritingIntoAMissingFolderFails) {
    path = folder.file("no-such-folder/Quiltra.ini");
    EXPECT_FALSE(write("Config", "Verbose", "1"));
}

TEST_F(PrivateProfile, SectionsAndKeysIgnoreCaseAndExistingKeysAreReplacedInPlace) {
    given("[Config]\nCameraDriver=a.dll\nVerbose=0\n[Scanner0001]\nScans=2\n");
    EXPECT_EQ(read("CONFIG", "cameradriver"), "a.dll");
    EXPECT_EQ(readInt("scanner0001", "SCANS"), 2);

    EXPECT_TRUE(write("config", "CAMERADRIVER", "b.dll"));
    EXPECT_TRUE(write("Scanner0001", "scans", "3"));
    EXPECT_EQ(content(), "[Config]\nCameraDriver=b.dll\nVerbose=0\n[Scanner0001]\nScans=3\n");
}

TEST_F(PrivateProfile, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEndOfTheFile) {
    given("[A]\na=1\n[B]\nb=1\n");
    EXPECT_TRUE(write("A", "c", "3"));
    EXPECT_TRUE(write("C", "d", "4"));
    EXPECT_TRUE(write("B", "e", "5"));
    EXPECT_EQ(content(), "[A]\na=1\nc=3\n[B]\nb=1\ne=5\n[C]\nd=4\n");
    // Names are found without the blanks around them; a new name keeps its trailing ones.
    EXPECT_TRUE(write(" \tD \t", " k ", "1"));
    EXPECT_EQ(content(), "[A]\na=1\nc=3\n[B]\nb=1\ne=5\n[C]\nd=4\n[D \t]\nk =1\n");
}

TEST_F(PrivateProfile, CommentsAndUnknownLinesAreKept) {
    given("; Quiltra settings\n[Config]\n; the driver\nCameraDriver=a.dll\n[Other]\nx=1\n");
    EXPECT_TRUE(write("Config", "CameraDriver", "b.dll"));
    EXPECT_TRUE(write("Config", "Verbose", "1"));
    EXPECT_EQ(content(),
              "; Quiltra settings\n[Config]\n; the driver\nCameraDriver=b.dll\nVerbose=1\n"
              "[Other]\nx=1\n");
    // A "[name" line without its ']' starts no section: what follows stays in [Other].
    given("[Other]\nx=1\n[Unclosed\ny=2\n");
    EXPECT_EQ(read("Other", "y"), "2");
    EXPECT_EQ(read("Unclosed", "y"), "-");
    // A name without '=' is a key without a value: read as missing, written where it stands.
    given("[S]\n=e\nKey\nx=1\n");
    EXPECT_EQ(read("S", ""), "e");  // "=e" holds the key with an empty name
    EXPECT_EQ(read("S", "key"), "-");
    EXPECT_EQ(readInt("S", "key"), -99);
    EXPECT_TRUE(write("S", "KEY", "v"));
    EXPECT_EQ(content(), "[S]\n=e\nKey=v\nx=1\n");
    // Writing the value a key already has leaves the file as it is, line ends and all.
    given("[S]\r\nKey=v\r\n Long \t= w \r\n");
    EXPECT_TRUE(write("S", "key", "v"));
    EXPECT_TRUE(write("S", "long", " \tw"));
    EXPECT_EQ(test::readFile(path), "[S]\r\nKey=v\r\n Long \t= w \r\n");
}

TEST_F(PrivateProfile, ValuesLoseSurroundingBlanksAndMatchingQuotes) {
    given(
        "[S]\n"
        "  spaced  =   some value   \n"
        "tabbed\t=\tvalue\t\n"
        "double=\"quoted text\"\n"
        "single='quoted'\n"
        "half=\"open\n"
        "mixed=\"mixed'\n"
        "inner=\"a\"b\"\n"
        "blankInQuotes=\" x \"\n"
        "empty=\n");
    EXPECT_EQ(read("S", "spaced"), "some value");
    EXPECT_EQ(read("S", "tabbed"), "value");
    EXPECT_EQ(read("S", "double"), "quoted text");
    EXPECT_EQ(read("S", "single"), "quoted");
    EXPECT_EQ(read("S", "half"), "\"open");
    EXPECT_EQ(read("S", "mixed"), "\"mixed'");
    EXPECT_EQ(read("S", "inner"), "a\"b");
    EXPECT_EQ(read("S", "blankInQuotes"), " x ");
    EXPECT_EQ(read("S", "empty"), "");
    EXPECT_EQ(read("S", "missing", "default  "), "default");

    // A written value loses its leading blanks, line breaks among them.
    given("[S]\n");
    EXPECT_TRUE(write("S", "b", "\r\nw"));
    EXPECT_TRUE(write("S", "a", " \t v \t"));
    EXPECT_EQ(read("S", "a"), "v");
    EXPECT_EQ(content(), "[S]\nb=w\na=v \t\n");
}

TEST_F(PrivateProfile, TextsAreCutToTheBufferSizeLessOne) {
    given("[S]\nlong=abcdef\nquoted=\"abcdef\"\n");
    EXPECT_EQ(read("S", "long", "", 4), "abc");
    EXPECT_EQ(read("S", "long", "", 7), "abcdef");
    EXPECT_EQ(read("S", "long", "", 1), "");
    EXPECT_EQ(read("S", "quoted", "", 4), "abc");
    EXPECT_EQ(read("S", "missing", "defaultvalue", 4), "def");
}

TEST_F(PrivateProfile, IntegersTakeBlanksASignAndLeadingDigits) {
    given(
        "[S]\nplain=42\nnegative= -17\nplus=+8\ntrailing=12abc\nletters=abc\n"
        "quoted=\"5\"\nminus=-\nempty=\nblanks=   \nx=x\n");
    EXPECT_EQ(readInt("S", "plain"), 42);
    EXPECT_EQ(readInt("S", "negative"), -17);
    EXPECT_EQ(readInt("S", "plus"), 8);
    EXPECT_EQ(readInt("S", "trailing"), 12);
    EXPECT_EQ(readInt("S", "letters"), 0);
    EXPECT_EQ(readInt("S", "quoted"), 5);
    EXPECT_EQ(readInt("S", "minus"), 0);
    EXPECT_EQ(readInt("S", "empty"), -99);
    EXPECT_EQ(readInt("S", "blanks"), -99);
    EXPECT_EQ(readInt("S", "x"), 0);
    EXPECT_EQ(readInt("S", "missing"), -99);
    EXPECT_EQ(readInt("Missing", "plain"), -99);
}

TEST_F(PrivateProfile, ReadsWindowsLineEndsAndAByteOrderMark) {
    given("\xEF\xBB\xBF[Config]\r\nCameraDriver=a.dll\r\nVerbose=1\r\n");
    EXPECT_EQ(read("Config", "CameraDriver"), "a.dll");
    EXPECT_EQ(readInt("Config", "Verbose"), 1);
}

TEST_F(PrivateProfile, AFileWithoutAFinalLineEndTakesNewKeys) {
    given("[Config]\nCameraDriver=a.dll");
    EXPECT_TRUE(write("Config", "Verbose", "1"));
    EXPECT_TRUE(write("Scanner0001", "Scans", "1"));
    EXPECT_EQ(content(), "[Config]\nCameraDriver=a.dll\nVerbose=1\n[Scanner0001]\nScans=1\n");
}

TEST_F(PrivateProfile, NullValueRemovesTheKeyAndNullKeyTheSection) {
    given("[A]\na=1\nb=2\n[B]\nc=3\n");
    EXPECT_TRUE(write("A", "a", nullptr));
    EXPECT_EQ(read("A", "a"), "-");
    EXPECT_EQ(read("A", "b"), "2");
    EXPECT_TRUE(write("B", nullptr, nullptr));
    EXPECT_EQ(read("B", "c"), "-");
    EXPECT_EQ(content(), "[A]\nb=2\n");

    // Of sections that share a name, reads, writes and the removal of a section use the
    // first; a removed key goes from the first that holds it.
    given("[A]\na=1\n[B]\nc=3\n[a]\nb=2\nd=4\n");
    EXPECT_EQ(read("A", "b"), "-");
    EXPECT_TRUE(write("A", "b", nullptr));
    EXPECT_EQ(content(), "[A]\na=1\n[B]\nc=3\n[a]\nd=4\n");
    EXPECT_TRUE(write("A", nullptr, nullptr));
    EXPECT_EQ(content(), "[B]\nc=3\n[a]\nd=4\n");

    // A removal takes the names as given: with blanks around them they name nothing.
    const struct {
        const char* section;
        const char* key;
    } removals[] = {{" B", "c"}, {"B ", "c"}, {"B", " c"}, {"B", "c\t"}, {"\tB", nullptr}};
    for (const auto& removal : removals) {
        EXPECT_TRUE(write(removal.section, removal.key, nullptr));
        EXPECT_EQ(content(), "[B]\nc=3\n[a]\nd=4\n")
            << '"' << removal.section << "\" \"" << (removal.key ? removal.key : "(none)") << '"';
    }
}

TEST_F(PrivateProfile, KeysBeforeTheFirstSectionFormASectionWithoutAName) {
    given("k=1\n[A]\na=2\n");
    EXPECT_EQ(read("", "k"), "1");
    EXPECT_EQ(read("A", "k"), "-");
    EXPECT_TRUE(write("", "n", "2"));
    EXPECT_EQ(content(), "k=1\nn=2\n[A]\na=2\n");
    given("[A]\na=2\n");
    EXPECT_TRUE(write("", "n", "2"));
    EXPECT_EQ(content(), "n=2\n[A]\na=2\n");
}

TEST_F(PrivateProfile, NamesAreListedInFileOrderAsWritten) {
    given(
        "; comment\n[Config]\nCameraDriver=a\n  Verbose = 1\n[ Scanner0001 ]\nScnas=4\n"
        "[Empty]\n");
    const ProfileReader reader(path.c_str());
    EXPECT_EQ(reader.sectionNames(), (std::vector<std::string>{"Config", "Scanner0001", "Empty"}));
    EXPECT_EQ(reader.keyNames("config"), (std::vector<std::string>{"CameraDriver", "Verbose"}));
    EXPECT_EQ(reader.keyNames("Scanner0001"), (std::vector<std::string>{"Scnas"}));
    EXPECT_TRUE(reader.keyNames("Empty").empty());
    EXPECT_TRUE(reader.keyNames("Missing").empty());
    EXPECT_TRUE(ProfileReader(folder.file("none.ini").c_str()).sectionNames().empty());
}

#if !defined(_WIN32)
// Our own implementation's documented rules, where the system functions behave otherwise.

TEST_F(PrivateProfile, WrittenBytesUseLineFeedsAndNoAddedBlanks) {
    EXPECT_TRUE(write("Config", "CameraDriver", "a.dll"));
    EXPECT_EQ(test::readFile(path), "[Config]\nCameraDriver=a.dll\n");
    given("[Config]\r\nCameraDriver = a.dll\r\n");
    EXPECT_TRUE(write("Config", "CameraDriver", "b.dll"));
    EXPECT_EQ(test::readFile(path), "[Config]\nCameraDriver=b.dll\n");
}

TEST_F(PrivateProfile, BlankLinesAndTheByteOrderMarkAreKept) {
    given("\xEF\xBB\xBF[A]\na=1\n\n[B]\nb=1\n");
    EXPECT_TRUE(write("A", "c", "3"));
    EXPECT_EQ(test::readFile(path), "\xEF\xBB\xBF[A]\na=1\nc=3\n\n[B]\nb=1\n");
}

TEST_F(PrivateProfile, IntegersBeyondThirtyTwoBitsClampAndHexIsNotRead) {
    given("[S]\nhuge=99999999999\ntiny=-99999999999\nhex=0x10\n");
    EXPECT_EQ(readInt("S", "huge"), INT_MAX);
    EXPECT_EQ(readInt("S", "tiny"), INT_MIN);
    EXPECT_EQ(readInt("S", "hex"), 0);
}

TEST_F(PrivateProfile, ALineBreakInAValueCannotAddLines) {
    EXPECT_TRUE(write("Config", "CameraDriver", "a.dll\n[Evil]\nx=1"));
    EXPECT_EQ(test::readFile(path), "[Config]\nCameraDriver=a.dll\n");
}

TEST_F(PrivateProfile, WritesLeaveNoTemporaryFilesAndKeepTheFileMode) {
    given("[Config]\n");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    EXPECT_TRUE(write("Config", "Verbose", "1"));
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(entries(), 1);
}

// A file that is there but cannot be read (permission bits do not stop root, so other
// failures stand in for them) must never be taken for a missing one: a write would
// replace the whole file with its one key.
TEST_F(PrivateProfile, AFileThatCannotBeReadGivesDefaultsAndIsNeverReplaced) {
    namespace fs = std::filesystem;
    const struct {
        const char* what;
        void (*make)(const fs::path& file);
    } cases[] = {
        {"a link to itself: opening fails",
         [](const fs::path& file) { fs::create_symlink(file, file); }},
        {"a folder: reading fails", [](const fs::path& file) { fs::create_directory(file); }},
    };
    for (const auto& c : cases) {
        c.make(path);
        const fs::file_type type = fs::symlink_status(path).type();
        EXPECT_EQ(read("Config", "CameraDriver", "fallback"), "fallback") << c.what;
        EXPECT_EQ(readInt("Config", "Verbose", 7), 7) << c.what;
        EXPECT_FALSE(write("Config", "Verbose", "1")) << c.what;
        ProfileEdit edit(path.c_str());
        EXPECT_EQ(edit.getInt("Config", "Verbose", 7), 7) << c.what;
        EXPECT_FALSE(edit.writeString("Config", "Verbose", "1")) << c.what;
        EXPECT_FALSE(edit.commit()) << c.what;
        EXPECT_EQ(fs::symlink_status(path).type(), type) << c.what;
        EXPECT_EQ(entries(), 1) << c.what;
        fs::remove_all(path);
    }
}

// Writers through the file function and through edits of several keys each, which read
// back what they wrote before committing, in several threads at once.
TEST_F(PrivateProfile, ConcurrentWritersLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kKeys = 40;
    constexpr int kKeysPerEdit = 4;
    std::vector<std::thread> threads;
    std::vector<int> misread(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string section = "Scanner000" + std::to_string(t + 1);
            for (int k = 0; k < kKeys; k += kKeysPerEdit) {
                if (k % (2 * kKeysPerEdit) == 0) {
                    for (int j = k; j < k + kKeysPerEdit; ++j) {
                        const std::string key = "Key" + std::to_string(j);
                        writePrivateProfileString(section.c_str(), key.c_str(),
                                                  std::to_string(j).c_str(), path.c_str());
                    }
                    continue;
                }
                ProfileEdit edit(path.c_str());
                for (int j = k; j < k + kKeysPerEdit; ++j) {
                    const std::string key = "Key" + std::to_string(j);
                    edit.writeString(section.c_str(), key.c_str(), std::to_string(j).c_str());
                    misread[t] += edit.getInt(section.c_str(), key.c_str(), -1) != j;
                }
                edit.commit();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(misread[t], 0);
        const std::string section = "Scanner000" + std::to_string(t + 1);
        for (int k = 0; k < kKeys; ++k) {
            const std::string key = "Key" + std::to_string(k);
            EXPECT_EQ(readInt(section.c_str(), key.c_str()), k) << section << "/" << key;
        }
    }
    EXPECT_EQ(entries(), 1);
}
#endif

}  // namespace
}  // namespace quiltra::platform
