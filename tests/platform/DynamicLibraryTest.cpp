#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "TestPaths.h"
#include "support/TempFolder.h"

namespace trelvo::platform {
namespace {

TEST(DynamicLibrary, OpensAPlugInAndFindsItsEntryPoint) {
    DynamicLibrary library;
    ASSERT_TRUE(library.open(TrelvoGain_PATH)) << library.error();
    EXPECT_TRUE(library.isOpen());
    EXPECT_NE(library.handleValue(), 0u);
    EXPECT_NE(library.symbol("VSTPluginMain"), nullptr);
    EXPECT_EQ(library.symbol("main"), nullptr);
    library.close();
    EXPECT_FALSE(library.isOpen());
    EXPECT_EQ(library.symbol("VSTPluginMain"), nullptr);
}

TEST(DynamicLibrary, DoesNotOfferSymbolsOfTheLibrariesItDependsOn) {
    DynamicLibrary library;
    ASSERT_TRUE(library.open(TrelvoGain_PATH));
    // The plug-in uses libc, but "malloc" is not the plug-in's own symbol.
    EXPECT_EQ(library.symbol("malloc"), nullptr);
}

TEST(DynamicLibrary, AMissingOrBrokenFileGivesAnErrorText) {
    test::TempFolder folder;
    DynamicLibrary library;
    EXPECT_FALSE(library.open(folder.file("missing.so")));
    EXPECT_NE(library.error().find("missing.so"), std::string::npos);

    test::writeFile(folder.file("garbage.so"), "this is not an ELF file");
    EXPECT_FALSE(library.open(folder.file("garbage.so")));
    EXPECT_FALSE(library.error().empty());
    EXPECT_FALSE(library.isOpen());
}

TEST(DynamicLibrary, MovingHandsOverTheHandle) {
    DynamicLibrary first;
    ASSERT_TRUE(first.open(TrelvoGain_PATH));
    DynamicLibrary second = std::move(first);
    EXPECT_FALSE(first.isOpen()); // NOLINT(bugprone-use-after-move): moved-from state is specified
    EXPECT_NE(second.symbol("VSTPluginMain"), nullptr);
}

} // namespace
} // namespace trelvo::platform
