#include "persist/PathForms.h"

#include <mutex>

#include "platform/TrelvoHome.h"

namespace trelvo::persist {

namespace {

std::mutex gPromptMutex;
FolderPrompt gPrompt;

std::string withSlashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string withTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

bool isAbsolute(const std::string& path) {
    if (!path.empty() && path.front() == '/') return true;
    // A Windows drive letter: kept as it is, like any absolute path.
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

/// base (ending in "/") with levels folders removed from its end; "/" at most.
std::string up(const std::string& base, int levels) {
    std::string result = base;
    for (int i = 0; i < levels && result.size() > 1; ++i) {
        result.pop_back();
        result.erase(result.find_last_of('/') + 1);
    }
    return result;
}

} // namespace

std::string programFolder() {
    return withTrailingSlash(platform::trelvoHome());
}

std::string ExpandPath(const std::string& baseIn, const std::string& pathIn) {
    const std::string path = withSlashes(pathIn);
    if (path.empty()) return {};
    const std::string base = withTrailingSlash(baseIn.empty() ? programFolder() : withSlashes(baseIn));
    if (path == ".") return base;
    if (path.rfind("./", 0) == 0) return base + path.substr(2);
    if (path.rfind("../", 0) == 0) return up(base, 1) + path.substr(3);
    if (path.rfind(".../", 0) == 0) return up(base, 2) + path.substr(4);
    if (path.rfind("..../", 0) == 0) return up(base, 3) + path.substr(5);
    if (path.rfind("//", 0) == 0 || isAbsolute(path)) return path;
    return base + path;
}

std::string RelativePath(const std::string& baseIn, const std::string& pathIn) {
    const std::string path = pathIn == "." ? std::string() : withSlashes(pathIn);
    const std::string base = withTrailingSlash(baseIn.empty() ? programFolder() : withSlashes(baseIn));
    // The longest common leading part, and the last "/" inside it.
    std::size_t common = 0;
    while (common < base.size() && common < path.size() && base[common] == path[common]) ++common;
    const std::size_t slash = common == 0 ? std::string::npos : base.rfind('/', common - 1);
    if (slash == std::string::npos) return path.empty() ? "." : path;
    std::string result;
    if (slash + 1 == base.size()) {
        result = path.substr(slash + 1);
    } else {
        const std::string rest = path.substr(slash); // starts with "/"
        int levels = 0;
        for (std::size_t i = slash + 1; i < base.size(); ++i)
            if (base[i] == '/') ++levels;
        if (levels == 1)
            result = ".." + rest;
        else if (levels == 2)
            result = "..." + rest;
        else if (levels == 3)
            result = "...." + rest;
        else
            result = path; // too far up: the whole path
    }
    return result.empty() ? "." : result;
}

void setFolderPrompt(FolderPrompt prompt) {
    std::lock_guard lock(gPromptMutex);
    gPrompt = std::move(prompt);
}

bool EnsureFolder(const std::string& folderIn) {
    std::string folder = withSlashes(folderIn);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return false;
    if (platform::fileExists(folder)) return true;
    FolderPrompt prompt;
    {
        std::lock_guard lock(gPromptMutex);
        prompt = gPrompt;
    }
    const std::string question =
        "The directory \"" + folder + "\" does not exist\n\nDo you wish to create this directory?";
    if (prompt && !prompt(question, "Information")) return false;
    return platform::makeDirectories(folder);
}

} // namespace trelvo::persist
