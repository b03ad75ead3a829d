#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <vector>

#include "platform/Clock.h"
#include "support/TempFolder.h"

namespace trelvo::platform {
namespace {

using Reach = SingleInstance::Reach;

/// A socket file at path that nobody listens on: what a copy that crashed leaves behind,
/// with the given mode.
void leaveSocket(const std::string& path, mode_t mode, bool keepListening = false, int* keptFd = nullptr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    if (keepListening) {
        ASSERT_EQ(::listen(fd, 4), 0);
        *keptFd = fd;
        return;
    }
    ::close(fd);
}

TEST(SingleInstance, ALineReachesTheRunningCopyAndIsAnswered) {
    test::TempFolder folder;
    const std::string path = folder.file("s.socket");
    EXPECT_EQ(SingleInstance::send(path, "open", 500), Reach::NoneRunning) << "nothing there yet";
    SingleInstance running;
    std::string why;
    ASSERT_TRUE(running.listen(path, why)) << why;
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the owner's alone";

    auto second = std::async(std::launch::async, [&path] { return SingleInstance::send(path, "open", 3000); });
    std::vector<std::string> lines;
    const std::uint32_t start = tickCountMs();
    while (lines.empty() && tickCountMs() - start < 3000) {
        lines = running.take();
        sleepMs(10);
    }
    EXPECT_EQ(lines, std::vector<std::string>{"open"});
    EXPECT_EQ(second.get(), Reach::Delivered);

    SingleInstance another;
    EXPECT_FALSE(another.listen(path, why)) << "one copy listens at a time";
    EXPECT_EQ(why, "another copy listens at " + path);
}

TEST(SingleInstance, AStaleSocketIsReplacedAndGoneWhenTheCopyEnds) {
    test::TempFolder folder;
    const std::string path = folder.file("s.socket");
    leaveSocket(path, 0600);
    EXPECT_EQ(SingleInstance::send(path, "open", 500), Reach::NoneRunning);
    {
        SingleInstance running;
        std::string why;
        ASSERT_TRUE(running.listen(path, why)) << why;
        EXPECT_TRUE(running.listening());
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the socket goes with its copy";
}

TEST(SingleInstance, ASocketOthersMayOpenIsNeitherUsedNorReplaced) {
    test::TempFolder folder;
    const std::string path = folder.file("s.socket");
    int fd = -1;
    leaveSocket(path, 0666, true, &fd);
    EXPECT_EQ(SingleInstance::send(path, "open", 500), Reach::NotOurs);
    SingleInstance running;
    std::string why;
    EXPECT_FALSE(running.listen(path, why));
    EXPECT_EQ(why, path + " is not this user's own socket; it is left alone");
    EXPECT_EQ(::access(path.c_str(), F_OK), 0) << "left where it was";
    // Nothing connected to it: its queue holds no one.
    pollfd queue{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&queue, 1, 0), 0);
    ::close(fd);
}

TEST(SingleInstance, ACopyThatTakesTheLineButNeverAnswersIsGivenUpOnInTime) {
    test::TempFolder folder;
    const std::string path = folder.file("s.socket");
    int fd = -1;
    leaveSocket(path, 0600, true, &fd); // listens, never accepts
    EXPECT_EQ(SingleInstance::send(path, "open", 300), Reach::NoAnswer) << "and the call came back";
    // Its queue full, a connection is not even taken: the call still comes back.
    std::vector<int> waiting;
    for (int i = 0; i < 64; ++i) {
        const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        waiting.push_back(client);
        if (::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) break;
    }
    EXPECT_EQ(SingleInstance::send(path, "open", 300), Reach::NoAnswer);
    for (const int client : waiting) ::close(client);
    ::close(fd);
}

} // namespace
} // namespace trelvo::platform
