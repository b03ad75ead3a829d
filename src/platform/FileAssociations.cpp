#include "platform/FileAssociations.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/TrelvoHome.h"

extern char** environ;

namespace trelvo::platform {

namespace {

/// What one association writes. The class names are the ones the registry classes had; here
/// they name the desktop entry and the mime package.
struct Kind {
    const char* className;
    const char* mimeType;
    const char* glob;        ///< nullptr: a type every desktop knows; no package, never a default
    const char* typeComment; ///< as the installed package (packaging/trelvo-mime.xml) has it
};

constexpr Kind kProjects{"Marnik.VPRJ_file", "application/x-trelvo-project", "*.vprj", "Trelvo project"};
constexpr Kind kProfiles{"Marnik.VPRF_file", "application/x-trelvo-profile", "*.vprf", "Trelvo plug-in profile"};
constexpr Kind kPlugins{"Marnik.DLL_file", "application/x-sharedlib", nullptr, nullptr};
constexpr const Kind* kTrelvoTypes[] = {&kProjects, &kProfiles};

constexpr const char* kRecordName = "FileAssociations.state";
constexpr const char* kMarker =
    "Written by Trelvo for a file association; switching it off in Trelvo removes this file.";
constexpr const char* kDefaultSection = "[Default Applications]";

const Kind& kindOf(Association association) {
    switch (association) {
    case Association::Projects: return kProjects;
    case Association::Profiles: return kProfiles;
    default: return kPlugins;
    }
}

struct Places {
    std::string applications, mime, packages;
    std::string desktopFile, packageFile, mimeappsList;
    std::string recordFile, stateFolder;
};

Places placesOf(const Kind& kind, const AssociationContext& context) {
    Places places;
    const std::string data = withoutTrailingSlash(context.dataHome.empty() ? defaultDataHome() : context.dataHome);
    places.applications = data + "/applications";
    places.mime = data + "/mime";
    places.packages = places.mime + "/packages";
    places.desktopFile = places.applications + "/" + kind.className + ".desktop";
    places.packageFile = places.packages + "/" + kind.className + ".xml";
    places.mimeappsList = places.applications + "/mimeapps.list";
    places.stateFolder = withoutTrailingSlash(context.stateFolder.empty() ? trelvoHome() : context.stateFolder);
    places.recordFile = places.stateFolder + "/" + kRecordName;
    return places;
}

void note(std::string& text, const std::string& what) {
    if (!what.empty()) text += text.empty() ? what : "; " + what;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
    return names;
}

bool removeFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) return true;
    error = "cannot remove " + path + ": " + std::strerror(errno);
    return false;
}

// ---- The record of what Trelvo created ------------------------------------------------------

/// Kept in the state folder as tab-separated lines, so that "off" in a later run still knows
/// which folders, lines and caches were Trelvo's.
struct Record {
    std::set<std::string> folders;                          ///< folders Trelvo created
    std::set<std::string> files;                            ///< desktop entries and mime packages Trelvo wrote
    std::set<std::string> lists;                            ///< mimeapps.list files Trelvo created
    std::map<std::string, std::string> sections;            ///< list -> what was written before its added header
    std::set<std::pair<std::string, std::string>> defaults; ///< (list, line) added to [Default Applications]
    /// A cache folder (mime, applications) -> what its tool had generated there before Trelvo
    /// first wrote into it; present while Trelvo has files there.
    std::map<std::string, std::set<std::string>> cachesBefore;
};

std::string escapeField(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            fields.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

std::string serialize(const Record& record) {
    std::string text;
    const auto line = [&text](std::initializer_list<std::string> fields) {
        std::string joined;
        for (const std::string& field : fields) joined += (joined.empty() ? "" : "\t") + escapeField(field);
        text += joined + "\n";
    };
    for (const std::string& folder : record.folders) line({"folder", folder});
    for (const std::string& file : record.files) line({"file", file});
    for (const std::string& list : record.lists) line({"list", list});
    for (const auto& [list, separator] : record.sections) line({"section", list, separator});
    for (const auto& [list, added] : record.defaults) line({"default", list, added});
    for (const auto& [folder, names] : record.cachesBefore) {
        line({"before", folder});
        for (const std::string& name : names) line({"before", folder, name});
    }
    if (text.empty()) return text;
    return "# What Trelvo's file associations created; switching them off removes exactly this.\n" + text;
}

bool loadRecord(const Places& places, Record& record, std::string& error) {
    if (!fileExists(places.recordFile)) return true;
    std::string text;
    if (!readWholeFile(places.recordFile, text)) {
        error = "cannot read " + places.recordFile + ", the record of Trelvo's file associations";
        return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::vector<std::string> fields = splitFields(text.substr(start, end - start));
        start = end + 1;
        const std::string& what = fields[0];
        if (fields.size() == 2 && what == "folder") record.folders.insert(fields[1]);
        if (fields.size() == 2 && what == "file") record.files.insert(fields[1]);
        if (fields.size() == 2 && what == "list") record.lists.insert(fields[1]);
        if (fields.size() == 3 && what == "section") record.sections[fields[1]] = fields[2];
        if (fields.size() == 3 && what == "default") record.defaults.emplace(fields[1], fields[2]);
        if (fields.size() == 2 && what == "before") record.cachesBefore[fields[1]];
        if (fields.size() == 3 && what == "before") record.cachesBefore[fields[1]].insert(fields[2]);
    }
    return true;
}

/// Writes the record, or removes it once it is empty so that nothing is left of Trelvo's.
bool saveRecord(const Places& places, const Record& record, std::string& error) {
    const std::string text = serialize(record);
    if (text.empty()) return removeFile(places.recordFile, error);
    if (!makeDirectories(places.stateFolder)) {
        error = "cannot create the folder " + places.stateFolder;
        return false;
    }
    return writeFileAtomically(places.recordFile, text, error);
}

bool trelvoHasFilesIn(const Record& record, const std::string& folder) {
    const std::string prefix = folder + "/";
    return std::any_of(record.files.begin(), record.files.end(),
                       [&prefix](const std::string& file) { return file.compare(0, prefix.size(), prefix) == 0; });
}

/// What a cache tool writes into its folder: every entry of the mime folder but the
/// packages, and mimeinfo.cache of the applications folder.
std::set<std::string> generatedEntries(const std::string& folder, bool mimeFolder) {
    std::set<std::string> generated;
    for (const std::string& name : folderEntries(folder))
        if (mimeFolder ? name != "packages" : name == "mimeinfo.cache") generated.insert(name);
    return generated;
}

/// Creates folder and its missing parents, noting each one created.
bool createFolders(const std::string& folder, Record& record, std::string& error) {
    std::vector<std::string> missing;
    std::string existing = folder;
    struct stat info {};
    while (::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            error = "cannot create the folder " + folder + ": " + existing + ": " + std::strerror(errno);
            return false;
        }
        missing.push_back(existing);
        const std::size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos || slash == 0) {
            existing.clear();
            break;
        }
        existing.resize(slash);
    }
    if (!existing.empty() && !S_ISDIR(info.st_mode)) {
        error = "cannot create the folder " + folder + ": " + existing + " is a file, not a folder";
        return false;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // As the XDG base directory rules ask of folders created on the user's behalf.
        if (::mkdir(it->c_str(), 0700) != 0) {
            error = "cannot create the folder " + *it + ": " + std::strerror(errno);
            return false;
        }
        record.folders.insert(*it);
    }
    return true;
}

/// Removes the folders Trelvo created that are empty now, the deepest first.
void removeEmptyFolders(Record& record) {
    std::vector<std::string> folders(record.folders.begin(), record.folders.end());
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders)
        if (::rmdir(folder.c_str()) == 0 || errno == ENOENT) record.folders.erase(folder);
}

// ---- The cache tools ------------------------------------------------------------------------

std::string findTool(const char* name) {
    const char* path = std::getenv("PATH");
    const std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string folder = list.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue; // never the current folder
        const std::string candidate = folder + "/" + name;
        if (isRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

/// Runs a cache tool on folder when it is installed, and waits for it. Its absence is no
/// fault; a failure is noted in warnings, as the association itself is in place.
void runCacheTool(const char* name, const char* option, const std::string& folder, std::string& warnings) {
    if (!isDirectory(folder)) return;
    const std::string program = findTool(name);
    if (program.empty()) return;
    std::vector<std::string> arguments{name};
    if (option != nullptr) arguments.emplace_back(option);
    arguments.push_back(folder);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3); // none of Trelvo's files or sockets
    pid_t child = -1;
    const int started = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        note(warnings, "cannot run " + program + ": " + std::strerror(started));
        return;
    }
    // The window waits for the tool: one that hangs is ended after a while.
    constexpr int kWaitMs = 15000;
    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            note(warnings, "cannot wait for " + program + ": " + std::strerror(errno));
            return;
        }
        if (waited >= kWaitMs) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            note(warnings, program + " " + folder + " did not finish and was stopped");
            return;
        }
        ::usleep(10000);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
    note(warnings, program + " " + folder +
                       (WIFEXITED(status) ? " ended with status " + std::to_string(WEXITSTATUS(status))
                                          : " was stopped by signal " + std::to_string(WTERMSIG(status))));
}

void updateMimeDatabase(const Places& places, std::string& warnings) {
    runCacheTool("update-mime-database", nullptr, places.mime, warnings);
}

void updateDesktopDatabase(const Places& places, std::string& warnings) {
    runCacheTool("update-desktop-database", "-q", places.applications, warnings);
}

/// Brings a cache folder back in step after Trelvo removed files from it. Once Trelvo has
/// nothing left there, caches that did not exist before Trelvo came are removed rather than
/// rebuilt, unless something else now needs them.
void refreshCaches(const Places& places, bool mimeFolder, Record& record, std::string& warnings) {
    const std::string& folder = mimeFolder ? places.mime : places.applications;
    const auto update = [&] {
        mimeFolder ? updateMimeDatabase(places, warnings) : updateDesktopDatabase(places, warnings);
    };
    if (trelvoHasFilesIn(record, mimeFolder ? places.packages : places.applications)) {
        update();
        return;
    }
    const auto before = record.cachesBefore.find(folder);
    const bool hadCaches = before == record.cachesBefore.end() || !before->second.empty();
    // Another program's package or desktop entry still needs the caches.
    const std::vector<std::string> remaining = folderEntries(mimeFolder ? places.packages : folder);
    const bool othersLeft = std::any_of(remaining.begin(), remaining.end(), [mimeFolder](const std::string& name) {
        return mimeFolder || name.ends_with(".desktop");
    });
    if (hadCaches || othersLeft) update();
    if (!hadCaches) {
        std::string reason;
        if (mimeFolder && !othersLeft) {
            for (const std::string& name : folderEntries(folder)) {
                if (name == "packages" || before->second.count(name) != 0) continue;
                const std::string path = folder + "/" + name;
                if (isDirectory(path)) {
                    // A media-type folder of the types Trelvo's packages declared.
                    for (const Kind* kind : kTrelvoTypes)
                        if (std::string(kind->mimeType).starts_with(name + "/") &&
                            !removeFile(places.mime + "/" + kind->mimeType + ".xml", reason))
                            note(warnings, reason);
                    ::rmdir(path.c_str()); // stays when it holds anything else
                } else if (!removeFile(path, reason)) {
                    note(warnings, reason);
                }
            }
        }
        if (!mimeFolder) {
            const std::string cache = folder + "/mimeinfo.cache";
            std::string text;
            const bool emptyCache = readWholeFile(cache, text) && text.find('=') == std::string::npos;
            // A cache that was not there before Trelvo came goes again (an existing one was
            // rebuilt above, whatever it covers).
            if ((!othersLeft || emptyCache) && !removeFile(cache, reason)) note(warnings, reason);
        }
    }
    if (before != record.cachesBefore.end()) record.cachesBefore.erase(before);
}

// ---- mimeapps.list --------------------------------------------------------------------------

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// The lines of text as (start, start of the next line) offsets.
std::vector<std::pair<std::size_t, std::size_t>> linesOf(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.emplace_back(start, next);
        start = next;
    }
    return lines;
}

std::string lineAt(const std::string& text, std::pair<std::size_t, std::size_t> line) {
    std::string content = text.substr(line.first, line.second - line.first);
    if (!content.empty() && content.back() == '\n') content.pop_back();
    return content;
}

/// The lines of the first [Default Applications] section: its header, then its entries
/// up to the next header. Empty when there is none.
std::vector<std::pair<std::size_t, std::size_t>> defaultSection(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> section;
    for (const auto& line : linesOf(text)) {
        const std::string content = trimmed(lineAt(text, line));
        const bool header = content.starts_with("[");
        if (!section.empty() && header) break;
        if (!section.empty() || content == kDefaultSection) section.push_back(line);
    }
    return section;
}

bool hasDefaultFor(const std::string& text, const std::string& mimeType) {
    const auto section = defaultSection(text);
    return std::any_of(section.begin() + (section.empty() ? 0 : 1), section.end(), [&](const auto& line) {
        const std::string content = lineAt(text, line);
        const std::size_t equals = content.find('=');
        return equals != std::string::npos && trimmed(content.substr(0, equals)) == mimeType;
    });
}

/// Adds line to the [Default Applications] section after its last entry, or appends the
/// section; separator receives what was written before an appended header.
std::string withDefault(const std::string& text, const std::string& line, std::optional<std::string>& separator) {
    const auto section = defaultSection(text);
    if (section.empty()) {
        separator = text.empty() ? "" : text.back() == '\n' ? "\n" : "\n\n";
        return text + *separator + kDefaultSection + "\n" + line + "\n";
    }
    std::size_t at = section.front().second;
    for (const auto& entry : section)
        if (!trimmed(lineAt(text, entry)).empty()) at = entry.second;
    std::string edited = text;
    if (at == text.size() && text.back() != '\n') return edited + "\n" + line;
    return edited.insert(at, line + "\n");
}

/// Removes line from the [Default Applications] section, as withDefault added it.
bool removeDefault(std::string& text, const std::string& line) {
    const auto section = defaultSection(text);
    for (std::size_t i = 1; i < section.size(); ++i) {
        if (lineAt(text, section[i]) != line) continue;
        const auto [start, next] = section[i];
        if (text[next - 1] == '\n' || start == 0)
            text.erase(start, next - start);
        else
            text.erase(start - 1, next - start + 1);
        return true;
    }
    return false;
}

/// Removes a header Trelvo appended, with what was written before it, once it heads nothing.
bool removeEmptySection(std::string& text, const std::string& separator) {
    const auto section = defaultSection(text);
    if (section.empty()) return false;
    for (std::size_t i = 1; i < section.size(); ++i)
        if (!trimmed(lineAt(text, section[i])).empty()) return false;
    std::size_t start = section.front().first;
    if (start >= separator.size() && text.compare(start - separator.size(), separator.size(), separator) == 0)
        start -= separator.size();
    text.erase(start, section.front().second - start);
    return true;
}

std::string defaultLine(const Kind& kind) {
    return std::string(kind.mimeType) + "=" + kind.className + ".desktop;";
}

bool addDefault(const Kind& kind, const Places& places, Record& record, std::string& error) {
    const std::string& list = places.mimeappsList;
    const bool existed = fileExists(list);
    std::string text;
    if (existed && !readWholeFile(list, text)) {
        error = "cannot read " + list + ": it is not a readable file";
        return false;
    }
    // The user's own choice of a default stays; so does the line of an earlier "on".
    if (hasDefaultFor(text, kind.mimeType)) return true;
    std::optional<std::string> separator;
    if (!writeFileAtomically(list, withDefault(text, defaultLine(kind), separator), error)) return false;
    if (!existed) record.lists.insert(list);
    if (separator) record.sections[list] = *separator;
    record.defaults.emplace(list, defaultLine(kind));
    return true;
}

bool removeDefaults(const Kind& kind, const Places& places, Record& record, std::string& error) {
    const std::string& list = places.mimeappsList;
    const std::pair<std::string, std::string> added{list, defaultLine(kind)};
    if (record.defaults.count(added) == 0) return true;
    std::string text;
    if (!readWholeFile(list, text)) {
        if (fileExists(list)) {
            error = "cannot read " + list + ": it is not a readable file";
            return false;
        }
        record.defaults.erase(added);
        record.sections.erase(list);
        record.lists.erase(list);
        return true;
    }
    std::string edited = text;
    removeDefault(edited, added.second);
    const bool othersOfTrelvo = std::any_of(record.defaults.begin(), record.defaults.end(),
                                            [&](const auto& entry) { return entry.first == list && entry != added; });
    const auto section = record.sections.find(list);
    const bool sectionGone =
        section != record.sections.end() && !othersOfTrelvo && removeEmptySection(edited, section->second);
    if (record.lists.count(list) != 0 && edited.empty()) {
        if (!removeFile(list, error)) return false;
        record.lists.erase(list);
    } else if (edited != text && !writeFileAtomically(list, edited, error)) {
        return false;
    }
    record.defaults.erase(added);
    if (sectionGone) record.sections.erase(section);
    return true;
}

// ---- The files Trelvo writes ----------------------------------------------------------------

/// A value of a desktop entry key, with the escapes of the string type.
std::string desktopValue(const std::string& text) {
    std::string value;
    for (const char c : text) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '\t')
            value += "\\t";
        else if (c == '\r')
            value += "\\r";
        else
            value += c;
    }
    return value;
}

/// One argument of an Exec line: quoted when it holds a reserved character, with ", `, $ and
/// \ escaped inside the quotes; then the string escapes, which double every backslash, and
/// "%%" for a literal "%".
std::optional<std::string> execArgument(const std::string& argument) {
    if (argument.empty()) return std::nullopt;
    if (std::any_of(argument.begin(), argument.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return std::nullopt;
    std::string quoted = argument;
    if (argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos) {
        quoted = "\"";
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += "\"";
    }
    std::string escaped;
    for (const char c : quoted) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '%')
            escaped += "%%";
        else
            escaped += c;
    }
    return escaped;
}

std::string descriptionOf(Association association, const std::string& title) {
    switch (association) {
    case Association::Projects: return title + " Project";
    case Association::Profiles: return title + " VSTprofile";
    default: return "VST plugin / Application Extension";
    }
}

std::optional<std::string> desktopEntry(Association association, const AssociationContext& context,
                                        std::string& error) {
    const Kind& kind = kindOf(association);
    const auto program = execArgument(context.program);
    if (!program) {
        error = "the program \"" + context.program + "\" cannot be named in a desktop entry";
        return std::nullopt;
    }
    // Plug-ins have only "open"; a profile's "open" is its "run DLL" verb.
    const bool editable = association != Association::Plugins && !context.textEditor.empty();
    const auto editor = editable ? execArgument(context.textEditor) : std::nullopt;
    if (editable && !editor) {
        error = "the text editor \"" + context.textEditor + "\" cannot be named in a desktop entry";
        return std::nullopt;
    }
    const std::string title = context.title.empty() ? "Trelvo" : context.title;
    std::string text = std::string("# ") + kMarker + "\n[Desktop Entry]\nType=Application\n";
    text += "Name=" + desktopValue(title) + "\n";
    text += "Comment=" + desktopValue(descriptionOf(association, title)) + "\n";
    text += "Icon=trelvo\nExec=" + *program + " %f\nTerminal=false\n";
    // Only for "open with" and the file types: the menu has Trelvo's own entry.
    text += "NoDisplay=true\n";
    text += std::string("MimeType=") + kind.mimeType + ";\n";
    if (editor) text += "Actions=edit;\n\n[Desktop Action edit]\nName=Edit\nExec=" + *editor + " %f\n";
    return text;
}

std::string mimePackage(const Kind& kind) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text += std::string("<!-- ") + kMarker + " -->\n";
    text += "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    text += std::string("  <mime-type type=\"") + kind.mimeType + "\">\n";
    text += std::string("    <comment>") + kind.typeComment + "</comment>\n";
    text += "    <sub-class-of type=\"text/plain\"/>\n";
    text += std::string("    <glob pattern=\"") + kind.glob + "\"/>\n";
    text += "    <icon name=\"trelvo\"/>\n";
    text += "  </mime-type>\n</mime-info>\n";
    return text;
}

/// Writes one of Trelvo's files, unless a file of that name is someone else's.
bool writeOwnFile(const std::string& path, const std::string& text, Record& record, std::string& error) {
    std::string existing;
    if (record.files.count(path) == 0 && readWholeFile(path, existing) && existing.find(kMarker) == std::string::npos) {
        error = "cannot write " + path + ": a file of that name that Trelvo did not write is there";
        return false;
    }
    if (!writeFileAtomically(path, text, error)) return false;
    record.files.insert(path);
    return true;
}

bool removeOwnFile(const std::string& path, Record& record, bool& removed, std::string& error) {
    if (record.files.count(path) == 0) return true;
    if (!removeFile(path, error)) return false;
    record.files.erase(path);
    removed = true;
    return true;
}

bool switchOn(Association association, const AssociationContext& context, const Places& places, Record& record,
              std::string& error) {
    const Kind& kind = kindOf(association);
    const auto entry = desktopEntry(association, context, error);
    if (!entry) return false;
    if (record.cachesBefore.count(places.applications) == 0)
        record.cachesBefore[places.applications] = generatedEntries(places.applications, false);
    if (!createFolders(places.applications, record, error) || !writeOwnFile(places.desktopFile, *entry, record, error))
        return false;
    if (kind.glob == nullptr) return true;
    if (record.cachesBefore.count(places.mime) == 0)
        record.cachesBefore[places.mime] = generatedEntries(places.mime, true);
    return createFolders(places.packages, record, error) &&
           writeOwnFile(places.packageFile, mimePackage(kind), record, error) &&
           addDefault(kind, places, record, error);
}

/// Removes what "on" wrote for the association. With refresh the caches are brought in step;
/// an undone "on" never ran the tools, so it leaves them alone.
bool switchOff(Association association, const Places& places, Record& record, bool refresh, std::string& error,
               std::string& warnings) {
    const Kind& kind = kindOf(association);
    bool ok = true;
    bool removedDesktop = false, removedPackage = false;
    std::string reason;
    if (!removeOwnFile(places.desktopFile, record, removedDesktop, reason)) ok = false, note(error, reason);
    if (kind.glob != nullptr) {
        if (!removeOwnFile(places.packageFile, record, removedPackage, reason)) ok = false, note(error, reason);
        if (!removeDefaults(kind, places, record, reason)) ok = false, note(error, reason);
    }
    if (refresh && removedPackage) refreshCaches(places, true, record, warnings);
    if (refresh && removedDesktop) refreshCaches(places, false, record, warnings);
    // Snapshots of folders Trelvo no longer has files in are done with.
    if (!trelvoHasFilesIn(record, places.packages)) record.cachesBefore.erase(places.mime);
    if (!trelvoHasFilesIn(record, places.applications)) record.cachesBefore.erase(places.applications);
    removeEmptyFolders(record);
    return ok;
}

std::string userHome() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/tmp";
}

} // namespace

bool associationAvailable(Association association) {
    return association != Association::Plugins2;
}

bool setAssociation(Association association, bool on, const AssociationContext& context, std::string& error) {
    error.clear();
    if (!associationAvailable(association)) {
        if (!on) return true;
        error = "Linux has no .dl plug-ins to associate";
        return false;
    }
    const Places places = placesOf(kindOf(association), context);
    Record record;
    if (!loadRecord(places, record, error)) return false;
    const std::string loaded = serialize(record);
    std::string warnings;
    if (on) {
        if (switchOn(association, context, places, record, error) && saveRecord(places, record, error)) {
            if (kindOf(association).glob != nullptr) updateMimeDatabase(places, warnings);
            updateDesktopDatabase(places, warnings);
            error = warnings;
            return true;
        }
        std::string undoProblems, saveProblem;
        switchOff(association, places, record, false, undoProblems, warnings);
        if (serialize(record) != loaded && !saveRecord(places, record, saveProblem)) note(undoProblems, saveProblem);
        if (!undoProblems.empty()) note(error, "undoing it failed too: " + undoProblems);
        return false;
    }
    bool removed = switchOff(association, places, record, true, error, warnings);
    std::string saveProblem;
    if (serialize(record) != loaded && !saveRecord(places, record, saveProblem)) {
        note(error, saveProblem);
        removed = false;
    }
    if (removed) error.clear();
    note(error, warnings);
    return removed;
}

bool associationInstalled(Association association, const AssociationContext& context) {
    if (!associationAvailable(association)) return false;
    const Kind& kind = kindOf(association);
    const Places places = placesOf(kind, context);
    std::string entry;
    if (!readWholeFile(places.desktopFile, entry)) return false;
    if (entry.find(std::string("\nMimeType=") + kind.mimeType + ";") == std::string::npos) return false;
    return kind.glob == nullptr || isRegularFile(places.packageFile);
}

std::string defaultDataHome() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return withoutTrailingSlash(data);
    return userHome() + "/.local/share";
}

} // namespace trelvo::platform
