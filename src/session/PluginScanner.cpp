#include "session/PluginScanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"
#include "platform/Clock.h"
#include "platform/TrelvoHome.h"

extern char** environ;

namespace trelvo::rack {

namespace {

constexpr const char* kIniName = "_VSTimages.ini";
/// The sections of the results file, in the order they are written.
constexpr const char* kSections[] = {"unknown error", "ignore", "invalid", "guiless", "custom"};

std::string baseName(const std::string& path) {
    const std::string file = platform::fileNamePart(path);
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

std::string folderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool startsWithName(const std::string& entry, const std::string& name) {
    return entry.size() >= name.size() && persist::sameName(std::string_view(entry).substr(0, name.size()), name) &&
           (entry.size() == name.size() || entry[name.size()] == ' ');
}

bool isLibrary(const std::string& name) {
    return name.size() > 3 && persist::sameName(std::string_view(name).substr(name.size() - 3), ".so");
}

} // namespace

PluginScanner::PluginScanner(Environment environment) : env(std::move(environment)) {
    if (!env.nowMs) env.nowMs = [] { return platform::tickCountMs(); };
    platform::makeDirectories(env.imagesFolder);
    readIni();
    diag::hookedLog("VSTfolder=" + (env.vstFolders.empty() ? std::string() : env.vstFolders.front()));
    diag::hookedLog("IMGfolder=" + env.imagesFolder);
}

PluginScanner::~PluginScanner() {
    if (worker > 0) stopWorker();
    if (workerOutput >= 0) ::close(workerOutput);
    reapStopped();
}

void PluginScanner::stopWorker() {
    // The worker's whole process group: helpers a plug-in started go with it. It is
    // reaped on later ticks, so that one stuck in the kernel cannot hold the window.
    ::kill(-worker, SIGKILL);
    ::kill(worker, SIGKILL);
    stopped.push_back(worker);
    worker = -1;
    reapStopped();
}

void PluginScanner::reapStopped() {
    std::erase_if(stopped, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

std::string PluginScanner::pictureOf(const std::string& library) const {
    return platform::withTrailingSlash(env.imagesFolder) + baseName(library) + ".png";
}

// ---- The results file ----

void PluginScanner::readIni() {
    const std::string file = platform::withTrailingSlash(env.imagesFolder) + kIniName;
    std::string text;
    if (!platform::readWholeFile(file, text)) {
        // A file that exists but cannot be read is never written over with empty lists.
        iniWritable = !platform::fileExists(file);
        if (!iniWritable) diag::hookedLogError("scan: cannot read " + file + "; the results are not saved");
        if (iniWritable) writeIni();
        return;
    }
    std::vector<std::string>* list = nullptr;
    std::string* other = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line(persist::trimmed(std::string_view(text).substr(start, end - start)));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string section = line.substr(1, line.size() - 2);
            list = persist::sameName(section, "unknown error") ? &unknownError
                   : persist::sameName(section, "ignore")      ? &ignore
                   : persist::sameName(section, "invalid")     ? &invalid
                   : persist::sameName(section, "guiless")     ? &guiless
                   : persist::sameName(section, "custom")      ? &custom
                                                               : nullptr;
            // Sections Trelvo does not know stay in the file as they were.
            other = list == nullptr ? &otherSections : nullptr;
            if (other != nullptr) *other += line + "\r\n";
            continue;
        }
        if (list != nullptr)
            list->push_back(line[0] == '=' ? line.substr(1) : line);
        else if (other != nullptr)
            *other += line + "\r\n";
    }
}

void PluginScanner::writeIni() {
    std::string text;
    for (const char* section : kSections) {
        const std::vector<std::string>& list = std::string(section) == "unknown error" ? unknownError
                                               : std::string(section) == "ignore"      ? ignore
                                               : std::string(section) == "invalid"     ? invalid
                                               : std::string(section) == "guiless"     ? guiless
                                                                                       : custom;
        if (list.empty() && std::string(section) == "custom") continue;
        text += "[" + std::string(section) + "]\r\n";
        for (const std::string& entry : list) text += "=" + entry + "\r\n";
        text += "\r\n";
    }
    text += otherSections;
    if (!iniWritable) return;
    std::string error;
    if (!platform::writeFileAtomically(platform::withTrailingSlash(env.imagesFolder) + kIniName, text, error))
        diag::hookedLogError("scan: " + error);
}

void PluginScanner::appendLog(const std::string& category, const std::string& line) {
    const std::string file = platform::withTrailingSlash(env.imagesFolder) + "_" + category + ".log";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        diag::hookedLogError("scan: cannot write " + file + ": " + std::strerror(errno));
        return;
    }
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
}

// ---- The inventory ----

void PluginScanner::walk(const std::string& root, const std::string& sub, int folderNumber,
                         const std::function<bool()>& cancelled, bool& stop) {
    // A folder reached a second time (through a link to a parent) is walked once.
    struct stat self {};
    if (::stat((root + sub).c_str(), &self) != 0 ||
        !visited.insert({static_cast<std::uint64_t>(self.st_dev), static_cast<std::uint64_t>(self.st_ino)}).second)
        return;
    if (cancelled && cancelled()) {
        stop = true;
        return;
    }
    DIR* directory = ::opendir((root + sub).c_str());
    if (directory == nullptr) return;
    std::vector<std::string> files, folders;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (::stat((root + sub + name).c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode))
            folders.push_back(name);
        else if (isLibrary(name))
            files.push_back(name);
    }
    ::closedir(directory);
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const std::string& name : files) {
        const std::string path = root + sub + name;
        struct stat info {};
        ::stat(path.c_str(), &info);
        dllList.push_back("     " + path);
        vstList.push_back(name + "\t" + std::to_string(folderNumber) + "\t" + root + sub + "\t" +
                          std::to_string(info.st_size) + "\t" + std::to_string(info.st_mtime));
        if (cancelled && cancelled()) {
            stop = true;
            return;
        }
    }
    for (const std::string& name : folders) {
        walk(root, sub + name + "/", folderNumber, cancelled, stop);
        if (stop) return;
    }
}

std::string PluginScanner::scan(const std::string& folder, const std::function<bool()>& cancelled) {
    dllList.clear();
    vstList.clear();
    visited.clear();
    bool stop = false;
    std::string text;
    if (folder == "*") {
        for (std::size_t n = 0; n < env.vstFolders.size() && !stop; ++n)
            walk(platform::withTrailingSlash(env.vstFolders[n]), "", static_cast<int>(n), cancelled, stop);
        text = std::string(stop ? "scanAllVSTs cancelled: " : "scanAllVSTs done: ") + std::to_string(dllList.size()) +
               " DLLs";
        std::string all;
        for (const std::string& line : vstList) all += line + "\n";
        std::string error;
        platform::writeFileAtomically(platform::withTrailingSlash(env.imagesFolder) + "_VSTs.log", all, error);
    } else {
        walk(platform::withTrailingSlash(folder), "", 0, cancelled, stop);
        text = std::string(stop ? "scanVSTs cancelled: " : "scanVSTs done: ") + folder + ", " +
               std::to_string(dllList.size()) + " DLLs";
    }
    diag::hookedLog(text);
    return text;
}

// ---- The picture pass ----

bool PluginScanner::known(const std::string& name, std::string& why) const {
    const auto in = [&name](const std::vector<std::string>& list) {
        return std::any_of(list.begin(), list.end(), [&name](const std::string& e) { return startsWithName(e, name); });
    };
    // A library that failed in an earlier pass is not loaded again: a crash or a hang would
    // only repeat. Removing its line from the results file lets it be tried anew.
    if (in(ignore))
        why = "ignored";
    else if (in(guiless))
        why = "has no editor";
    else if (in(invalid))
        why = "cannot be loaded";
    else if (in(unknownError))
        why = "failed before";
    return !why.empty();
}

void PluginScanner::startPictures() {
    if (passRunning) return;
    passRunning = true;
    cancelRequested = false;
    position = 0;
    pictures = 0;
    summary.clear();
    setupFailure.clear();
}

void PluginScanner::cancel() {
    cancelRequested = true;
}

bool PluginScanner::tick() {
    if (!passRunning) return false;
    reapStopped();
    if (worker > 0) {
        readWorker();
        int status = 0;
        const pid_t done = ::waitpid(worker, &status, WNOHANG);
        if (done == worker) {
            readWorker();
            ::kill(-worker, SIGKILL); // helpers the library left behind go with it
            worker = -1;
            output += WIFSIGNALED(status) ? "\nsignal\t" + std::to_string(WTERMSIG(status)) + "\n" : "";
            finishWorker(false);
        } else if (output.find("\nresult\t") != std::string::npos || output.rfind("result\t", 0) == 0) {
            // The answer is in: whatever the library does on its way out does not count.
            stopWorker();
            finishWorker(false);
        } else if (cancelRequested) {
            stopWorker();
            finishWorker(false, true);
        } else if (env.nowMs() - workerStarted > static_cast<std::uint32_t>(env.timeLimitMs)) {
            stopWorker();
            readWorker();
            finishWorker(true);
        }
        return true;
    }
    if (!setupFailure.empty()) {
        summary = setupFailure;
        diag::hookedLogError("scan: " + setupFailure);
        passRunning = false;
        return false;
    }
    if (cancelRequested) {
        endPass(true);
        return false;
    }
    // The next library that is not known yet.
    while (position < dllList.size()) {
        const std::string library(persist::trimmed(dllList[position]));
        const std::string name = platform::fileNamePart(library);
        std::string why;
        if (known(name, why)) {
            lines.push_back(name + " " + why);
        } else if (platform::isRegularFile(pictureOf(library))) {
            lines.push_back("ok: " + name);
            if (std::find(gui.begin(), gui.end(), name) == gui.end()) gui.push_back(name);
        } else {
            startWorker(library);
            ++position;
            return true;
        }
        ++position;
    }
    endPass(false);
    return false;
}

void PluginScanner::startWorker(const std::string& library) {
    // A worker that cannot be started says nothing about the library: the pass stops.
    if (env.workerCommand.empty()) {
        setupFailure = "no scan worker to start";
        return;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        setupFailure = std::string("cannot start the scan worker: ") + std::strerror(errno);
        return;
    }
    std::vector<std::string> arguments = env.workerCommand;
    arguments.push_back(library);
    arguments.push_back(pictureOf(library));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The report comes on descriptor 3; what the plug-in prints goes nowhere, and none of
    // the program's own files, sockets or devices reach the worker.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = -1;
    const int started = ::posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (started != 0) {
        ::close(pipeEnds[0]);
        setupFailure = "cannot start the scan worker " + arguments[0] + ": " + std::strerror(started);
        return;
    }
    ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    worker = child;
    workerOutput = pipeEnds[0];
    output.clear();
    workerLibrary = library;
    workerStarted = env.nowMs();
}

void PluginScanner::readWorker() {
    if (workerOutput < 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(workerOutput, buffer, sizeof buffer);
        if (got > 0) {
            if (output.size() < 65536) output.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;
    }
}

void PluginScanner::finishWorker(bool timedOut, bool cancelled) {
    if (workerOutput >= 0) {
        ::close(workerOutput);
        workerOutput = -1;
    }
    // A picture the worker was writing when it ended is no picture.
    std::remove((pictureOf(workerLibrary) + ".part").c_str());
    if (cancelled) return;
    // The worker's lines: how far it got, and its result when it came to one.
    std::string stage = "start", code, text, signal;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string kind = line.substr(0, tab), rest = line.substr(tab + 1);
        if (kind == "stage") {
            stage = rest;
        } else if (kind == "result" && rest.size() >= 2 && rest[1] == '\t') {
            code = rest.substr(0, 1);
            text = rest.substr(2);
        } else if (kind == "signal") {
            signal = rest;
        }
    }
    const bool loading = stage == "start" || stage == "load" || stage == "open";
    if (timedOut) {
        record(workerLibrary, loading ? 'V' : 'U',
               "did not answer within " + std::to_string(env.timeLimitMs / 1000) + " s (" + stage + "), stopped");
    } else if (!code.empty()) {
        record(workerLibrary, code[0], text);
    } else if (!signal.empty()) {
        record(workerLibrary, loading ? 'V' : 'U', "crashed (signal " + signal + ", " + stage + ")");
    } else {
        record(workerLibrary, loading ? 'V' : 'U', "ended without an answer (" + stage + ")");
    }
}

void PluginScanner::record(const std::string& library, char code, const std::string& text) {
    const std::string name = platform::fileNamePart(library);
    const std::string entry = name + " " + text;
    const char* prefix = code == 'L' ? ">>: " : (code == 'V' || code == 'U') ? "ERR:" : "";
    const std::string line = prefix + entry + ",  folder: " + folderPart(library);
    lines.push_back(line);
    diag::hookedLog(line);
    const auto drop = [&name](std::vector<std::string>& list) {
        std::erase_if(list, [&name](const std::string& e) { return startsWithName(e, name); });
    };
    switch (code) {
    case 'E':
        ++pictures;
        if (std::find(gui.begin(), gui.end(), name) == gui.end()) gui.push_back(name);
        drop(guiless);
        drop(invalid);
        drop(unknownError);
        appendLog("progress", line);
        writeIni();
        break;
    case 'L':
        drop(guiless);
        guiless.push_back(entry);
        writeIni();
        break;
    case 'V':
        drop(invalid);
        invalid.push_back(entry);
        writeIni();
        break;
    default:
        drop(unknownError);
        unknownError.push_back(entry);
        writeIni();
        break;
    }
}

void PluginScanner::endPass(bool cancelled) {
    passRunning = false;
    std::string all;
    for (const std::string& name : gui) all += name + "\n";
    std::string error;
    platform::writeFileAtomically(platform::withTrailingSlash(env.imagesFolder) + "_gui.log", all, error);
    summary = std::string(cancelled ? "PNG scan cancelled" : "PNG scan done") + ": " + std::to_string(dllList.size()) +
              " DLLs, " + std::to_string(pictures) + " imgs";
    diag::hookedLog(summary);
}

std::string PluginScanner::progressText() const {
    if (worker <= 0) return passRunning ? "scanning..." : summary;
    return std::to_string(position) + "/" + std::to_string(dllList.size()) + ": " +
           platform::fileNamePart(workerLibrary) + ", " + std::to_string((env.nowMs() - workerStarted) / 1000) + " s";
}

} // namespace trelvo::rack
