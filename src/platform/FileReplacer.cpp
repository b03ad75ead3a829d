#include "platform/FileReplacer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/TrelvoHome.h"

namespace trelvo::platform {

namespace {

constexpr std::size_t kNameMax = 255;

std::string failure(const std::string& path, const char* why) {
    return "cannot write " + path + ": " + why;
}

std::string failureFromErrno(const std::string& path) {
    return failure(path, std::strerror(errno));
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::string followLinks(const std::string& path) {
    std::string current = path;
    // A loop of links ends here like it does for the system (ELOOP), on the last name.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        char buffer[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (length <= 0) return current;
        const std::string link(buffer, static_cast<std::size_t>(length));
        current = link.front() == '/' ? link : folderOf(current) + "/" + link;
    }
    return current;
}

std::string temporaryNameFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string suffix = ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    // "." + as much of the name as fits + suffix: hidden, recognisable, within the limit.
    const std::size_t room = kNameMax - 1 - suffix.size();
    return folder + "." + name.substr(0, std::min(name.size(), room)) + suffix;
}

FileReplacer::~FileReplacer() {
    abandon();
}

bool FileReplacer::begin(const std::string& path, std::string& error) {
    abandon();
    target = followLinks(path);
    direct = false;
    keepMode = false;
    struct stat info {};
    if (stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return error = failure(path, "it is a folder"), false;
        if (!S_ISREG(info.st_mode)) {
            // A device or a FIFO: written into, never replaced by a regular file. A FIFO
            // nobody reads from would block for ever; it is refused instead.
            descriptor = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            if (descriptor < 0)
                return error = errno == ENXIO ? failure(path, "no program reads from it") : failureFromErrno(path),
                       false;
            const int flags = fcntl(descriptor, F_GETFL);
            if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
            direct = true;
            writing = target;
            return true;
        }
        // Root may write anything; a file without write bits is still the user's "keep".
        if ((info.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)
            return error = failure(path, "the file is read-only"), false;
        keepMode = true;
        mode = info.st_mode & 07777;
        owner = info.st_uid;
        group = info.st_gid;
    }
    writing = temporaryNameFor(target);
    descriptor = ::open(writing.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        error = errno == ENOENT ? failure(path, "the folder does not exist") : failureFromErrno(path);
        writing.clear();
        return false;
    }
    if (keepMode) {
        // The owner first: changing it may clear set-id bits that the mode then restores.
        if (geteuid() == 0 && fchown(descriptor, owner, group) != 0) {
            error = failureFromErrno(path);
            abandon();
            return false;
        }
        if (fchmod(descriptor, mode) != 0) {
            error = failureFromErrno(path);
            abandon();
            return false;
        }
    }
    return true;
}

bool FileReplacer::write(const void* data, std::size_t size, std::string& error) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = failureFromErrno(target);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool FileReplacer::commit(std::string& error) {
    if (descriptor < 0) return error = failure(target, "nothing was opened"), false;
    if (direct) {
        const bool closed = ::close(descriptor) == 0;
        descriptor = -1;
        writing.clear();
        if (!closed) error = failureFromErrno(target);
        return closed;
    }
    const bool flushed = ::fsync(descriptor) == 0;
    const bool closed = ::close(descriptor) == 0;
    descriptor = -1;
    if (!flushed || !closed) {
        error = failureFromErrno(target);
        abandon();
        return false;
    }
    if (BeforeReplaceHook hook = beforeReplaceHook()) hook(writing);
    if (::rename(writing.c_str(), target.c_str()) != 0) {
        error = failureFromErrno(target);
        abandon();
        return false;
    }
    writing.clear();
    return true;
}

void FileReplacer::abandon() noexcept {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    if (!direct && !writing.empty()) ::unlink(writing.c_str());
    writing.clear();
}

} // namespace trelvo::platform
