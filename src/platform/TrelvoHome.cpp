#include "platform/TrelvoHome.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FileReplacer.h"

namespace trelvo::platform {

namespace {

std::string userHome() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return "/tmp";
}

std::atomic<BeforeReplaceHook> gBeforeReplace{nullptr};

} // namespace

void setBeforeReplaceHook(BeforeReplaceHook hook) noexcept {
    gBeforeReplace.store(hook);
}

BeforeReplaceHook beforeReplaceHook() noexcept {
    return gBeforeReplace.load();
}

bool readWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

std::string trelvoHome() {
    if (const char* home = std::getenv("TRELVO_HOME"); home != nullptr && *home != '\0')
        return withoutTrailingSlash(home);
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return withoutTrailingSlash(config) + "/Trelvo";
    return userHome() + "/.config/Trelvo";
}

std::string executablePath() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash))) return false;
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    return false;
}

bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    FileReplacer file;
    return file.begin(path, error) && file.write(text.data(), text.size(), error) && file.commit(error);
}

} // namespace trelvo::platform

namespace trelvo::platform {

std::string systemVstFolder() {
    if (const char* list = std::getenv("VST_PATH"); list != nullptr && *list != '\0') {
        std::string first(list);
        first = first.substr(0, first.find(':'));
        if (!first.empty()) return withoutTrailingSlash(first);
    }
    const std::string home = userHome();
    for (const std::string& candidate :
         {home + "/.vst", home + "/.lxvst", std::string("/usr/local/lib/vst"), std::string("/usr/lib/vst"),
          std::string("/usr/local/lib/lxvst"), std::string("/usr/lib/lxvst")}) {
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return candidate;
    }
    return {};
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string fileNamePart(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

} // namespace trelvo::platform

namespace trelvo::platform {
bool fileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

bool renameWithoutReplacing(const std::string& from, const std::string& to, std::string& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    int code = errno;
    if (code == EINVAL || code == ENOSYS) {
        // A file system without the no-replace rename: a hard link cannot replace either.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0) return true;
            code = errno;
            ::unlink(to.c_str());
        } else {
            code = errno;
        }
    }
    error = "cannot rename \"" + from + "\" to \"" + to +
            "\": " + (code == EEXIST ? std::string("a file of that name exists") : std::string(std::strerror(code)));
    return false;
}
std::vector<std::string> ownPluginFolders() {
    std::vector<std::string> folders;
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return folders;
    std::string program(buffer, static_cast<std::size_t>(length));
    const std::string folder = program.substr(0, program.rfind('/'));
    for (const std::string& candidate : {folder + "/../../plugins", folder + "/../lib/trelvo/plugins"}) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) folders.push_back(candidate);
    }
    return folders;
}

std::string withTrailingSlash(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

} // namespace trelvo::platform
