#include "plugins/filter_binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "test_support.h"

namespace quiltra {
namespace {

using test::FakePlugin;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The plug-in guide's example, loaded as Quiltra loads any prefilter: it inverts the image
// apart and in place, and without its prefilter file it makes no instance.
TEST(FilterBinding, TheGuidesExamplePluginFiltersApartAndInPlace) {
    const std::string library = test::libraryPath("minimal_prefilter");
    test::TempDir folder;
    const std::string filterFile = folder.file("invert.flt");
    test::writeFile(filterFile, "");
    EXPECT_FALSE(
        FilterBinding::make(library.c_str(), folder.file("missing.flt").c_str(), "")->canExecute());

    auto binding = FilterBinding::make(library.c_str(), filterFile.c_str(), "");
    ASSERT_NE(binding, nullptr);
    ASSERT_TRUE(binding->canExecute());
    std::vector<uint8_t> image = {0, 1, 127, 128, 254, 255};  // 2 rows, 1 column, 3 bytes
    std::vector<uint8_t> out(image.size(), 0x5a);
    EXPECT_TRUE(binding->execute(2, 1, 3, image.data(), out.data()));
    EXPECT_THAT(out, ElementsAre(255, 254, 128, 127, 1, 0));
    EXPECT_TRUE(binding->execute(2, 1, 3, image.data(), image.data()));
    EXPECT_EQ(image, out);
}

TEST(FilterBinding, EmptyPrefilterFileGivesNoBindingAndLoadsNothing) {
    FakePlugin plugin("fake_prefilter");
    EXPECT_EQ(FilterBinding::make(plugin.path().c_str(), "", "opt"), nullptr);
    EXPECT_EQ(FilterBinding::make(plugin.path().c_str(), nullptr, "opt"), nullptr);
    EXPECT_THAT(plugin.calls(), IsEmpty());
}

TEST(FilterBinding, CreatesItsInstanceFromTypeFileAndOptions) {
    FakePlugin plugin("fake_prefilter");
    auto binding = FilterBinding::make(plugin.path().c_str(), "/cal/a.flt", "sharp 3");
    ASSERT_NE(binding, nullptr);
    EXPECT_TRUE(binding->loaded());
    EXPECT_EQ(binding->filterType(), "f");
    EXPECT_EQ(binding->filterName(), "/cal/a.flt");
    EXPECT_EQ(binding->filterOptions(), "sharp 3");
    EXPECT_EQ(binding->filterHandle(), 1u);
    EXPECT_TRUE(binding->canExecute());
    EXPECT_THAT(plugin.calls(),
                ElementsAre("CreateFilter type=f file=/cal/a.flt options=sharp 3 -> 1"));
    binding.reset();
    EXPECT_THAT(
        plugin.calls(),
        ElementsAre("CreateFilter type=f file=/cal/a.flt options=sharp 3 -> 1", "ReleaseFilter 1"));
}

TEST(FilterBinding, TwoBindingsOfOneLibraryHaveTwoInstancesReleasedEachByItsOwner) {
    FakePlugin plugin("fake_prefilter");
    auto first = FilterBinding::make(plugin.path().c_str(), "a.flt", "");
    auto second = FilterBinding::make(plugin.path().c_str(), "a.flt", "");
    EXPECT_EQ(plugin.liveInstances(), 2);
    EXPECT_NE(first->filterHandle(), second->filterHandle());
    first.reset();
    // The second binding's load keeps the library and its instance alive.
    EXPECT_EQ(plugin.liveInstances(), 1);
    EXPECT_TRUE(second->execute(0, 0, 1, nullptr, nullptr));
    EXPECT_EQ(plugin.calls().back(), "ExecuteFilter 2 in=0x0x1 out=0x0x1 in-place options=");
    second.reset();
    EXPECT_EQ(plugin.liveInstances(), 0);
}

TEST(FilterBinding, WithoutAnInstanceNothingIsExecutedOrReleased) {
    FakePlugin noCreate("fake_prefilter_nocreate");
    FakePlugin zeroHandle("fake_prefilter");
    zeroHandle.set("handleBase", 0);
    std::vector<uint8_t> pixels(4, 7);
    for (const FakePlugin* plugin : {&noCreate, &zeroHandle}) {
        auto binding = FilterBinding::make(plugin->path().c_str(), "a.flt", "");
        ASSERT_NE(binding, nullptr);
        EXPECT_TRUE(binding->loaded());
        EXPECT_EQ(binding->filterHandle(), 0u);
        EXPECT_FALSE(binding->canExecute());
        EXPECT_FALSE(binding->execute(2, 2, 1, pixels.data(), pixels.data()));
        binding.reset();
        for (const auto& call : plugin->calls()) {
            EXPECT_THAT(call, ::testing::Not(::testing::HasSubstr("ExecuteFilter")));
            EXPECT_THAT(call, ::testing::Not(::testing::HasSubstr("ReleaseFilter")));
        }
    }
    EXPECT_EQ(pixels, std::vector<uint8_t>(4, 7));
}

TEST(FilterBinding, MissingLibraryGivesABindingThatNeverFilters) {
    auto binding = FilterBinding::make("no-such-prefilter-library", "a.flt", "x");
    ASSERT_NE(binding, nullptr);
    EXPECT_FALSE(binding->loaded());
    EXPECT_EQ(binding->libraryPath(), "no-such-prefilter-library");
    EXPECT_FALSE(binding->canExecute());
}

TEST(FilterBinding, ExecuteDescribesSourceAndDestinationWithTheLowByteOfThePixelSize) {
    FakePlugin plugin("fake_prefilter");
    auto binding = FilterBinding::make(plugin.path().c_str(), "a.flt", "o");
    std::vector<uint8_t> source = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> destination(6, 0);

    EXPECT_TRUE(binding->execute(2, 3, 1, source.data(), destination.data()));
    EXPECT_EQ(plugin.calls().back(), "ExecuteFilter 1 in=2x3x1 out=2x3x1 separate options=o");
    EXPECT_EQ(destination, (std::vector<uint8_t>{2, 3, 4, 5, 6, 7}));

    // 257 bytes per pixel keep only their low byte, 1.
    EXPECT_TRUE(binding->execute(3, 2, 257, source.data(), source.data()));
    EXPECT_EQ(plugin.calls().back(), "ExecuteFilter 1 in=3x2x1 out=3x2x1 in-place options=o");
    EXPECT_EQ(source, (std::vector<uint8_t>{2, 3, 4, 5, 6, 7}));
}

}  // namespace
}  // namespace quiltra
