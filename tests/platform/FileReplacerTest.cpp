// Saving over what is there: regular files keep their mode and owner, links are followed,
// devices and FIFOs are written into and never replaced, read-only files are refused, and
// long names still get a temporary name within the limit.
#include "platform/FileReplacer.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/TrelvoHome.h"
#include "support/TempFolder.h"

namespace trelvo::platform {
namespace {

using ::testing::HasSubstr;

struct stat statOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}

std::size_t entriesIn(const std::string& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

class FileReplacerTest : public ::testing::Test {
protected:
    std::string save(const std::string& path, const std::string& text) {
        std::string error;
        return writeFileAtomically(path, text, error) ? std::string() : error;
    }
    test::TempFolder folder;
};

TEST_F(FileReplacerTest, ARegularFileKeepsItsModeAndOwner) {
    const std::string file = folder.file("private.vprj");
    test::writeFile(file, "old");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), 1234, 5678), 0);
    }
    EXPECT_EQ(save(file, "new"), "");
    EXPECT_EQ(test::readFile(file), "new");
    const struct stat info = statOf(file);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(info.st_uid, 1234u);
        EXPECT_EQ(info.st_gid, 5678u);
    }
    EXPECT_EQ(entriesIn(folder.path()), 1u) << "no temporary file is left";
}

TEST_F(FileReplacerTest, ANewFileGetsTheUsualModeForTheUmask) {
    const mode_t mask = umask(022);
    EXPECT_EQ(save(folder.file("fresh.ini"), "x"), "");
    umask(mask);
    EXPECT_EQ(statOf(folder.file("fresh.ini")).st_mode & 07777, 0644u);
}

TEST_F(FileReplacerTest, ASymlinkIsFollowedAndStaysALink) {
    std::filesystem::create_directory(folder.file("real"));
    test::writeFile(folder.file("real/song.vprj"), "old");
    std::filesystem::create_symlink("real/song.vprj", folder.file("link.vprj"));
    EXPECT_EQ(save(folder.file("link.vprj"), "new"), "");
    EXPECT_TRUE(S_ISLNK(statOf(folder.file("link.vprj")).st_mode));
    EXPECT_EQ(test::readFile(folder.file("real/song.vprj")), "new");

    // A link to a file that does not exist yet creates that file.
    std::filesystem::create_symlink(folder.file("real/later.vprj"), folder.file("dangling.vprj"));
    EXPECT_EQ(save(folder.file("dangling.vprj"), "made"), "");
    EXPECT_TRUE(S_ISLNK(statOf(folder.file("dangling.vprj")).st_mode));
    EXPECT_EQ(test::readFile(folder.file("real/later.vprj")), "made");
    EXPECT_EQ(entriesIn(folder.file("real")), 2u);
}

TEST_F(FileReplacerTest, AFifoIsWrittenIntoAndStaysAFifo) {
    const std::string fifo = folder.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reads: refused at once rather than blocking for ever.
    EXPECT_THAT(save(fifo, "lost"), HasSubstr("no program reads from it"));

    std::string received;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        char buffer[64];
        for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(got));
        ::close(fd);
    });
    // The writer may come before the reader has opened its end: try for a while.
    std::string error = "not tried";
    for (int attempt = 0; attempt < 500 && !error.empty(); ++attempt) {
        error = save(fifo, "through the pipe");
        if (!error.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_EQ(error, "");
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

// Guards the fault where saving as root onto /dev/null replaced it with a regular file.
TEST_F(FileReplacerTest, ACharacterDeviceIsWrittenIntoAndStaysADevice) {
    const std::string device = folder.file("null");
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "this machine does not allow making a device node (the FIFO test covers the path)";
    EXPECT_EQ(save(device, "into the void"), "");
    EXPECT_TRUE(S_ISCHR(statOf(device).st_mode));
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

// Guards the fault where a read-only project was overwritten (root may write anything).
TEST_F(FileReplacerTest, AReadOnlyFileIsRefusedAndKept) {
    const std::string file = folder.file("locked.vprj");
    test::writeFile(file, "keep me");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_THAT(save(file, "overwrite"), HasSubstr("cannot write " + file + ": the file is read-only"));
    EXPECT_EQ(test::readFile(file), "keep me");
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

TEST_F(FileReplacerTest, FoldersAndMissingFoldersAreRefusedWithTheReason) {
    EXPECT_THAT(save(folder.path(), "x"), HasSubstr("it is a folder"));
    EXPECT_THAT(save(folder.file("no/such/file.vprj"), "x"), HasSubstr("the folder does not exist"));
}

// Guards the fault where a legal 250-character name failed because the temporary name
// added a suffix past the file-name limit.
TEST_F(FileReplacerTest, ALongNameStillSaves) {
    const std::string name = std::string(245, 'n') + ".vprj";
    ASSERT_EQ(name.size(), 250u);
    EXPECT_EQ(save(folder.file(name), "long"), "");
    EXPECT_EQ(save(folder.file(name), "longer"), "");
    EXPECT_EQ(test::readFile(folder.file(name)), "longer");
    EXPECT_LE(std::filesystem::path(temporaryNameFor(folder.file(name))).filename().string().size(), 255u);
    EXPECT_NE(temporaryNameFor("a"), temporaryNameFor("a")) << "two saves at once never share a temporary file";
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

TEST_F(FileReplacerTest, AnAbandonedWriteLeavesTheTargetAsItWas) {
    const std::string file = folder.file("song.vprj");
    test::writeFile(file, "before");
    {
        FileReplacer replacer;
        std::string error;
        ASSERT_TRUE(replacer.begin(file, error)) << error;
        ASSERT_TRUE(replacer.write("half", 4, error));
        EXPECT_TRUE(std::filesystem::exists(replacer.writePath()));
    } // gone without commit, as after an interrupted render
    EXPECT_EQ(test::readFile(file), "before");
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

} // namespace
} // namespace trelvo::platform
