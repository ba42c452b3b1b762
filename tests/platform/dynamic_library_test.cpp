#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quiltra::platform
