#include "platform/TrelvoHome.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "support/EnvironmentVariable.h"
#include "support/TempFolder.h"

namespace trelvo::platform {
namespace {

using test::EnvironmentVariable;

TEST(TrelvoHome, FollowsTrelvoHomeThenXdgConfigThenHome) {
    EnvironmentVariable home("HOME", "/home/musician");
    {
        EnvironmentVariable trelvo("TRELVO_HOME", "/srv/stage/trelvo/");
        EnvironmentVariable xdg("XDG_CONFIG_HOME", "/etc/xdg-elsewhere");
        EXPECT_EQ(trelvoHome(), "/srv/stage/trelvo");
    }
    {
        EnvironmentVariable trelvo("TRELVO_HOME", nullptr);
        EnvironmentVariable xdg("XDG_CONFIG_HOME", "/home/musician/conf");
        EXPECT_EQ(trelvoHome(), "/home/musician/conf/Trelvo");
    }
    {
        EnvironmentVariable trelvo("TRELVO_HOME", "");
        EnvironmentVariable xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(trelvoHome(), "/home/musician/.config/Trelvo");
    }
}

TEST(TrelvoHome, AtomicWriteReplacesTheFileOnlyWhenItWorked) {
    test::TempFolder folder;
    const std::string target = folder.file("Trelvo.log");
    test::writeFile(target, "old contents\n");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "new contents\n", error)) << error;
    EXPECT_EQ(test::readFile(target), "new contents\n");

    // A target that cannot be replaced (a folder of that name): it stays, no temporary is left.
    const std::string folderTarget = folder.file("Projects");
    ASSERT_TRUE(makeDirectories(folderTarget + "/inside"));
    EXPECT_FALSE(writeFileAtomically(folderTarget, "would destroy\n", error));
    EXPECT_NE(error.find(folderTarget), std::string::npos);
    EXPECT_TRUE(test::fileExists(folderTarget + "/inside"));
    EXPECT_FALSE(test::fileExists(folderTarget + ".tmp-" + std::to_string(getpid())));

    EXPECT_FALSE(writeFileAtomically(folder.file("no/such/folder/file.txt"), "x", error));
    EXPECT_FALSE(test::fileExists(folder.file("no")));
}

TEST(TrelvoHome, MakeDirectoriesCreatesParentsAndRefusesAFile) {
    test::TempFolder folder;
    EXPECT_TRUE(makeDirectories(folder.file("a/b/c")));
    EXPECT_TRUE(makeDirectories(folder.file("a/b/c")));
    test::writeFile(folder.file("plain"), "x");
    EXPECT_FALSE(makeDirectories(folder.file("plain")));
    EXPECT_FALSE(makeDirectories(folder.file("plain/below")));
}

} // namespace
} // namespace trelvo::platform
