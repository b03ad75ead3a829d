// The single-instance socket: a Unix-domain stream socket of the user's own.

#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"

namespace trelvo::platform {

namespace {

bool addressOf(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

/// A socket file of this user's that no one else may open.
bool isOurs(const struct stat& info) {
    return S_ISSOCK(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

/// Waits until fd is readable or writable (events), at most milliseconds.
bool waitFor(int fd, short events, int milliseconds) {
    pollfd watched{fd, events, 0};
    while (true) {
        const int ready = ::poll(&watched, 1, milliseconds);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

/// Reads one line (up to "\n", at most 4095 bytes) within milliseconds.
bool readLine(int fd, std::string& line, int milliseconds) {
    line.clear();
    const std::uint32_t start = tickCountMs();
    while (line.size() < 4095) {
        const int left = milliseconds - static_cast<int>(tickCountMs() - start);
        if (left <= 0 || !waitFor(fd, POLLIN, left)) return false;
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
    return false;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, 1000)) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

} // namespace

std::string SingleInstance::socketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && *runtime == '/' ? runtime : "/tmp";
    std::string name = "trelvo-" + std::to_string(::getuid());
    // A Trelvo home of its own (TRELVO_HOME) is a copy of its own: tests, a second setup.
    if (const char* home = std::getenv("TRELVO_HOME"); home != nullptr && *home != '\0') {
        std::uint32_t hash = 2166136261u;
        for (const char* c = home; *c != '\0'; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        char text[16];
        std::snprintf(text, sizeof text, "-%08x", hash);
        name += text;
    }
    return folder + "/" + name + ".socket";
}

SingleInstance::Reach SingleInstance::send(const std::string& path, const std::string& line, int timeoutMs) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return Reach::NoneRunning;
    if (!isOurs(info)) return Reach::NotOurs;
    sockaddr_un address{};
    if (!addressOf(path, address)) return Reach::NoneRunning;
    // Non-blocking: a copy that stopped taking connections fills its queue, and a blocking
    // connect would then wait for ever.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return Reach::NoneRunning;
    Reach result = Reach::NoneRunning;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EAGAIN) result = Reach::NoAnswer;
    } else {
        std::string answer;
        result = writeAll(fd, line + "\n") && readLine(fd, answer, timeoutMs) && answer == "ok" ? Reach::Delivered
                                                                                                : Reach::NoAnswer;
    }
    ::close(fd);
    return result;
}

bool SingleInstance::listen(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (!addressOf(path, address)) {
        error = "the socket path is too long: " + path;
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!isOurs(info)) {
            error = path + " is not this user's own socket; it is left alone";
            return false;
        }
        if (send(path, "ping", 200) != Reach::NoneRunning) {
            error = "another copy listens at " + path;
            return false;
        }
        // Left behind by a copy that ended without cleaning up.
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const mode_t previous = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int bindError = errno;
    ::umask(previous);
    if (!bound || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
        error = "cannot listen at " + path + ": " + std::strerror(bound ? errno : bindError);
        ::close(fd);
        if (bound) ::unlink(path.c_str());
        return false;
    }
    serverFd = fd;
    boundPath = path;
    return true;
}

std::vector<std::string> SingleInstance::take() {
    std::vector<std::string> lines;
    if (serverFd < 0) return lines;
    while (true) {
        const int client = ::accept4(serverFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) break;
        std::string line;
        if (readLine(client, line, 200)) {
            writeAll(client, "ok\n");
            if (line != "ping") lines.push_back(line);
        }
        ::close(client);
    }
    return lines;
}

SingleInstance::~SingleInstance() {
    if (serverFd < 0) return;
    ::close(serverFd);
    // Only the socket this copy made; another copy may have replaced it since.
    struct stat info {};
    if (::lstat(boundPath.c_str(), &info) == 0 && isOurs(info)) ::unlink(boundPath.c_str());
}

} // namespace trelvo::platform
