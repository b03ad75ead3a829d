#include "session/ProjectState.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"

namespace trelvo::project {

namespace fs = std::filesystem;
using host::TVstPlugIn;

namespace {

constexpr std::size_t kChunkBankHeader = 160;
constexpr std::size_t kBankHeader = 156;
constexpr std::size_t kProgramHeader = 56;

std::string folderOfFile(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

/// "slot 03 (Synth)" for a slot prefix such as "03_".
std::string slotText(const TVstPlugIn& slot, const std::string& prefix) {
    return "slot " + prefix.substr(0, 2) + " (" + slot.SlotName + ")";
}

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(bytes[at + i])}; };
    return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

/// Why a state file cannot be one SaveState writes, or empty when it is one. Checked
/// before the plug-in sees any of it, so that a damaged file leaves the plug-in as it was.
std::string whyNotAState(const std::string& bytes) {
    if (bytes.size() < kProgramHeader || bytes.compare(0, 4, "CcnK") != 0) return "it is not a state file";
    const std::string magic = bytes.substr(8, 4);
    if (magic == "FBCh") {
        if (bytes.size() < kChunkBankHeader) return "it is truncated";
        const std::uint64_t size = bigEndian(bytes, kBankHeader);
        if (size != bytes.size() - kChunkBankHeader)
            return size > bytes.size() - kChunkBankHeader ? "it is truncated" : "it has bytes past its chunk";
        return {};
    }
    if (magic != "FxCk") return "it is not a state file";
    const std::uint64_t values = std::uint64_t{bigEndian(bytes, 24)} * 4;
    if (values != bytes.size() - kProgramHeader)
        return values > bytes.size() - kProgramHeader ? "it is truncated" : "it has bytes past its values";
    return {};
}

/// The state file's name follows what it holds: a program is an FXP file, anything else
/// (a bank chunk) an FXB file.
bool holdsProgram(const std::string& bytes) {
    return bytes.size() >= 12 && bytes.compare(8, 4, "FxCk") == 0;
}

} // namespace

std::string stateFolderOf(const std::string& projectFile) {
    std::string name = platform::fileNamePart(projectFile);
    if (name.size() > 5 && persist::sameName(std::string_view(name).substr(name.size() - 5), ".vprj"))
        name.resize(name.size() - 5);
    return folderOfFile(projectFile) + "/" + name + ".state";
}

std::string stateFileName(int number, int slotId, bool bank) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d_%d.%s", number, slotId, bank ? "fxb" : "fxp");
    return text;
}

bool isStateFileName(const std::string& name) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (name.size() < 8 || !digit(name[0]) || !digit(name[1]) || name[2] != '_') return false;
    if (name.compare(name.size() - 4, 4, ".fxb") != 0 && name.compare(name.size() - 4, 4, ".fxp") != 0) return false;
    for (std::size_t i = 3; i < name.size() - 4; ++i)
        if (!digit(name[i])) return false;
    return true;
}

std::string saveSlotState(TVstPlugIn& slot, const std::string& projectFile, int number,
                          std::set<std::string>& written) {
    const std::string folder = stateFolderOf(projectFile);
    const bool live = slot.PlugLoaded.load() && slot.Active.load() && !slot.isQuarantined();
    const bool carried = !live && !slot.ProjectStateFile.empty() && platform::isRegularFile(slot.ProjectStateFile);
    if (!live && !carried) return {};
    std::string carriedBytes;
    if (carried && !platform::readWholeFile(slot.ProjectStateFile, carriedBytes)) {
        diag::hookedLogError("saveProject: cannot read the state file \"" + slot.ProjectStateFile +
                             "\" to carry it over");
        return {};
    }
    const bool bank = live ? slot.programsAreChunks() : !holdsProgram(carriedBytes);
    const std::string name = stateFileName(number, slot.SlotID, bank);
    const std::string target = folder + "/" + name;

    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error)) {
        diag::hookedLogError("saveProject: cannot create the state folder \"" + folder + "\" (" +
                             (error ? error.message() : std::string("a file of that name is in the way")) +
                             "); the plug-ins' states are not kept");
        return {};
    }
    int program = -1;
    if (live) {
        // Saving happens while the plug-in plays: SaveState reads the state without
        // selecting any program, so what is heard does not change.
        program = slot.GetProgram();
        if (!slot.SaveState(target)) {
            diag::hookedLogError("saveProject: the state of " + slotText(slot, name) + " was not kept (" +
                                 TVstPlugIn::lastPresetFailure() + "); it reopens from its preset keys");
            return {};
        }
    } else {
        program = slot.ProjectStateProgram;
        // The library is missing: the state it had stays with the project for its return.
        std::string reason;
        if (!fs::equivalent(slot.ProjectStateFile, target, error) &&
            !platform::writeFileAtomically(target, carriedBytes, reason)) {
            diag::hookedLogError("saveProject: cannot carry the state file \"" + slot.ProjectStateFile +
                                 "\" over to \"" + target + "\" " + reason);
            return {};
        }
    }
    written.insert(name);
    return std::to_string(program) + "," + platform::fileNamePart(folder) + "/" + name;
}

void removeStaleStates(const std::string& projectFile, const std::set<std::string>& written) {
    const std::string folder = stateFolderOf(projectFile);
    std::error_code error;
    if (!fs::is_directory(folder, error)) return;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code kindError;
        if (!entry->is_regular_file(kindError) || entry->is_symlink(kindError)) continue;
        if (!isStateFileName(name) || written.count(name) != 0) continue;
        std::error_code removeError;
        if (!fs::remove(entry->path(), removeError))
            diag::hookedLogError("saveProject: cannot remove the stale state file \"" + entry->path().string() +
                                 "\": " + removeError.message());
    }
    // Only an empty folder goes: remove refuses one that holds anything.
    if (written.empty() && !fs::is_symlink(folder, error)) fs::remove(folder, error);
}

void readStateKey(persist::IniHandle& handle, const std::string& prefix, const std::string& projectFile,
                  TVstPlugIn& slot) {
    slot.ProjectStateFile.clear();
    slot.ProjectStateProgram = -1;
    std::string value(persist::trimmed(persist::IniStr(handle, prefix + "State", "")));
    if (value.empty()) return;
    // "program,file"; a value without a leading number is the file alone.
    const std::size_t comma = value.find(',');
    std::int32_t program = -1;
    if (comma != std::string::npos &&
        persist::parseWholeNumber(persist::trimmed(std::string_view(value).substr(0, comma)), program)) {
        value = std::string(persist::trimmed(std::string_view(value).substr(comma + 1)));
        slot.ProjectStateProgram = program;
    }
    if (value.empty()) return;
    slot.ProjectStateFile = value.front() == '/' ? value : persist::ExpandPath(folderOfFile(projectFile), value);
}

bool restoreSlotState(TVstPlugIn& slot, const std::string& prefix) {
    const std::string& file = slot.ProjectStateFile;
    if (file.empty()) return false;
    const std::string fallback = "; it keeps the state of its preset keys";
    std::string bytes;
    if (!platform::isRegularFile(file) || !platform::readWholeFile(file, bytes)) {
        diag::hookedLogError("loadProject: " + slotText(slot, prefix) + ": the state file \"" + file + "\" is missing" +
                             fallback);
        return false;
    }
    if (const std::string why = whyNotAState(bytes); !why.empty()) {
        diag::hookedLogError("loadProject: " + slotText(slot, prefix) + ": the state file \"" + file +
                             "\" is damaged (" + why + ")" + fallback);
        return false;
    }
    if (!slot.LoadState(file, slot.ProjectStateProgram)) {
        diag::hookedLogError("loadProject: " + slotText(slot, prefix) + ": the state file \"" + file +
                             "\" did not load (" + TVstPlugIn::lastPresetFailure() + ")" + fallback);
        return false;
    }
    diag::hookedLog("loadProject: " + slotText(slot, prefix) + " restored from \"" + file + "\"");
    return true;
}

} // namespace trelvo::project
