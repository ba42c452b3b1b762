#include "platform/dynamic_library.h"

#include <gtest/gtest.h>
#include <quiltra/camera_driver.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "test_support.h"

namespace quiltra::platform {
namespace {

#if defined(_WIN32)
constexpr const char* kSystemLibrary = "kernel32.dll";
constexpr const char* kExportedFunction = "GetTickCount";
#else
constexpr const char* kSystemLibrary = "libm.so.6";
constexpr const char* kExportedFunction = "cos";
#endif

TEST(DynamicLibrary, NullEmptyAndMissingNamesGiveAnUnloadedLibrary) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "quiltra-no-such-library"}) {
        DynamicLibrary library = DynamicLibrary::load(name);
        EXPECT_FALSE(library.loaded()) << (name != nullptr ? name : "(null)");
        EXPECT_EQ(library.symbol(kExportedFunction), nullptr);
        library.close();  // harmless
    }
}

TEST(DynamicLibrary, FindsExportedFunctionsAndNothingElse) {
    DynamicLibrary library = DynamicLibrary::load(kSystemLibrary);
    ASSERT_TRUE(library.loaded());
    EXPECT_NE(library.symbol(kExportedFunction), nullptr);
    EXPECT_EQ(library.symbol("quiltraNoSuchFunction"), nullptr);
    EXPECT_EQ(library.symbol(nullptr), nullptr);
}

#if !defined(_WIN32)
TEST(DynamicLibrary, TypedLookupCallsTheFunction) {
    DynamicLibrary library = DynamicLibrary::load(kSystemLibrary);
    auto cosine = library.function<double (*)(double)>(kExportedFunction);
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}
#endif

TEST(DynamicLibrary, MovingHandsOverTheHandleAndClosingUnloads) {
    DynamicLibrary first = DynamicLibrary::load(kSystemLibrary);
    DynamicLibrary second = std::move(first);
    EXPECT_FALSE(first.loaded());
    EXPECT_TRUE(second.loaded());

    DynamicLibrary third;
    third = std::move(second);
    EXPECT_FALSE(second.loaded());
    EXPECT_TRUE(third.loaded());

    third.close();
    EXPECT_FALSE(third.loaded());
    EXPECT_EQ(third.symbol(kExportedFunction), nullptr);
}

// Whether the library at `path` is still mapped into this process.
bool stillLoaded(const std::string& path) {
#if defined(_WIN32)
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
#endif
}

// A driver holds a pointer to our completion hook: a host that unloads the library without
// finalize must not unmap the code the driver will call with its next image.
TEST(DynamicLibrary, TheLibraryStaysLoadedOnceItHasLoadedADriver) {
    test::TempDir folder;
    test::writeFile(folder.file("Quiltra.ini"),
                    "[Config]\nCameraDriver=" + test::libraryPath("fake_driver") + "\n");
    const std::string quiltra = test::libraryPath("quiltra");
    {
        DynamicLibrary library = DynamicLibrary::load(quiltra.c_str());
        ASSERT_TRUE(library.loaded());
        const auto start = library.function<InitializeFn>("initialize");
        ASSERT_NE(start, nullptr);
        ASSERT_EQ(start(folder.str().c_str(), nullptr), 1);
    }  // unloaded without finalize
    EXPECT_TRUE(stillLoaded(quiltra));
}

}  // namespace
}  // namespace quiltra::platform
