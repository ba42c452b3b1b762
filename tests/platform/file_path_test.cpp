#include "platform/file_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace quiltra::platform {
namespace {

TEST(FilePath, ExistsForFilesAndFoldersOnly) {
    test::TempDir folder;
    test::writeFile(folder.file("present.ini"), "x");
    EXPECT_TRUE(fileExists(folder.file("present.ini").c_str()));
    EXPECT_TRUE(fileExists(folder.str().c_str()));
    EXPECT_FALSE(fileExists(folder.file("missing.ini").c_str()));
    EXPECT_FALSE(fileExists(nullptr));
}

struct PathCase {
    const char* path;
    const char* expected;
};

#if defined(_WIN32)

TEST(FilePath, AbsoluteWhenBeginningWithBackslashOrDriveColon) {
    for (const char* path : {"\\a.txt", "\\\\srv\\share\\a.txt", "C:\\Host", "D:a.txt"}) {
        EXPECT_TRUE(isAbsolutePath(path)) << path;
    }
    for (const char* path : {"a.txt", ".\\cal\\a.txt", "..\\a.txt", "", "/a.txt", "ab:c"}) {
        EXPECT_FALSE(isAbsolutePath(path)) << path;
    }
    EXPECT_FALSE(isAbsolutePath(nullptr));
}

TEST(FilePath, FullPathRemovesDotParts) {
    const PathCase cases[] = {
        {"C:\\Host\\.\\cal\\a.txt", "C:\\Host\\cal\\a.txt"},
        {"C:\\Host\\..\\a.txt", "C:\\a.txt"},
        {"C:\\Host\\cal\\..\\..\\a.txt", "C:\\a.txt"},
    };
    for (const PathCase& c : cases) {
        char buffer[1024];
        EXPECT_TRUE(fullPath(c.path, buffer, sizeof buffer)) << c.path;
        EXPECT_STREQ(buffer, c.expected);
    }
}

#else

TEST(FilePath, AbsoluteWhenBeginningWithSlash) {
    EXPECT_TRUE(isAbsolutePath("/a.txt"));
    EXPECT_TRUE(isAbsolutePath("//srv/a.txt"));
    for (const char* path : {"a.txt", "./cal/a.txt", "../a.txt", "", "\\a.txt", "C:\\a.txt"}) {
        EXPECT_FALSE(isAbsolutePath(path)) << path;
    }
    EXPECT_FALSE(isAbsolutePath(nullptr));
}

TEST(FilePath, FullPathRemovesDotPartsLexically) {
    const PathCase cases[] = {
        {"/host/./cal/a.txt", "/host/cal/a.txt"},
        {"/host/../a.txt", "/a.txt"},
        {"/host/cal/../../a.txt", "/a.txt"},
        {"/../../a.txt", "/a.txt"},
        {"/host//cal/", "/host/cal"},
        {"/host/no-such-folder/../a.txt", "/host/a.txt"},
        {"/", "/"},
        {"/..", "/"},
    };
    for (const PathCase& c : cases) {
        char buffer[1024];
        EXPECT_TRUE(fullPath(c.path, buffer, sizeof buffer)) << c.path;
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST(FilePath, RelativePathIsTakenAgainstTheCurrentFolder) {
    const std::string current = std::filesystem::current_path().string();
    char buffer[4096];
    ASSERT_TRUE(fullPath("cal/../a.txt", buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), (current == "/" ? "" : current) + "/a.txt");
}

#endif

TEST(FilePath, FullPathThatDoesNotFitLeavesAnEmptyBuffer) {
#if defined(_WIN32)
    const char* path = "C:\\a\\quite\\long\\path\\a.txt";
#else
    const char* path = "/a/quite/long/path/a.txt";
#endif
    char buffer[8] = "garbage";
    EXPECT_FALSE(fullPath(path, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(fullPath(path, buffer, 0));
    EXPECT_FALSE(fullPath(nullptr, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace quiltra::platform
