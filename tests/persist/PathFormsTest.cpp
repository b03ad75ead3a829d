#include "persist/PathForms.h"

#include <gtest/gtest.h>

#include "support/TempFolder.h"

namespace trelvo::persist {
namespace {

struct PathCase {
    const char* path;
    const char* stored;
};

TEST(PathForms, StoredFormsRelativeToABaseAndBack) {
    const std::string base = "/a/b/";
    const PathCase cases[] = {
        {"/a/b/", "."},             // the base itself
        {"/a/b", "../b"},           // the base without its trailing separator
        {"/a/b/c/d.so", "c/d.so"},  // inside the base
        {"/a/x/y.so", "../x/y.so"}, // one level up
        {"/y.so", ".../y.so"},      // two levels up
        {"relative/z.so", "relative/z.so"},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(RelativePath(base, c.path), c.stored) << c.path;
        const std::string expanded = ExpandPath(base, c.stored);
        if (c.path[0] == '/') {
            EXPECT_EQ(expanded, c.path) << c.stored;
        }
    }
    EXPECT_EQ(ExpandPath(base, "relative/z.so"), "/a/b/relative/z.so");
}

TEST(PathForms, DeeperBasesUseThreeDotsAtMostAndOtherwiseTheWholePath) {
    EXPECT_EQ(RelativePath("/a/b/c/", "/z.so"), "..../z.so");
    EXPECT_EQ(ExpandPath("/a/b/c/", "..../z.so"), "/z.so");
    EXPECT_EQ(RelativePath("/a/b/c/d/", "/z.so"), "/z.so");
    EXPECT_EQ(RelativePath("/a/b/c/d/e/", "/a/z.so"), "/a/z.so");
    EXPECT_EQ(ExpandPath("/a/b/", "./x"), "/a/b/x");
    EXPECT_EQ(ExpandPath("/a/b/", ""), "");
    EXPECT_EQ(ExpandPath("/a/b/", "/abs/x"), "/abs/x");
}

TEST(PathForms, WindowsPathsReadWithForwardSlashes) {
    EXPECT_EQ(ExpandPath("/a/b", "..\\x\\y.dll"), "/a/x/y.dll");
    EXPECT_EQ(ExpandPath("/a/b/", "c\\d.dll"), "/a/b/c/d.dll");
    EXPECT_EQ(ExpandPath("/a/b/", "D:\\x"), "D:/x");   // a drive stays absolute
    EXPECT_EQ(RelativePath("/a/b/", "D:\\x"), "D:/x"); // nothing in common: kept whole
    EXPECT_EQ(ExpandPath("/a/b/", "\\\\server\\share"), "//server/share");
}

TEST(PathForms, AnEmptyBaseMeansTheProgramsFolder) {
    test::TempFolder home;
    setenv("TRELVO_HOME", home.path().c_str(), 1);
    EXPECT_EQ(programFolder(), home.path() + "/");
    EXPECT_EQ(ExpandPath("", "Templates"), home.path() + "/Templates");
    EXPECT_EQ(RelativePath("", home.path() + "/Projects/live.vprj"), "Projects/live.vprj");
    unsetenv("TRELVO_HOME");
}

TEST(PathForms, AMissingFolderIsCreatedOnlyWhenTheUserAgrees) {
    test::TempFolder root;
    std::string asked;
    setFolderPrompt([&](const std::string& question, const std::string& caption) {
        asked = caption + ": " + question;
        return false;
    });
    const std::string target = root.file("deep/new/folder");
    EXPECT_FALSE(EnsureFolder(target));
    EXPECT_EQ(asked,
              "Information: The directory \"" + target + "\" does not exist\n\nDo you wish to create this directory?");
    EXPECT_FALSE(test::fileExists(target));
    setFolderPrompt([](const std::string&, const std::string&) { return true; });
    EXPECT_TRUE(EnsureFolder(target + "/"));
    EXPECT_TRUE(test::fileExists(target));
    asked.clear();
    setFolderPrompt([&](const std::string& question, const std::string&) { return asked = question, false; });
    EXPECT_TRUE(EnsureFolder(target)); // an existing folder: no question
    EXPECT_TRUE(asked.empty());
    setFolderPrompt(nullptr);
}

} // namespace
} // namespace trelvo::persist
