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

/// Why a state file cannot be a whole bank, or empty when it is one. Checked before the
/// plug-in sees any of it, so that a damaged file leaves the plug-in as it was: a bank
/// that failed halfway would have changed some programs already.
std::string whyNotAWholeBank(const std::string& bytes) {
    if (bytes.size() < kBankHeader || bytes.compare(0, 4, "CcnK") != 0) return "it is not a bank file";
    const std::string magic = bytes.substr(8, 4);
    if (magic == "FBCh") {
        if (bytes.size() < kChunkBankHeader) return "it is truncated";
        const std::uint64_t size = bigEndian(bytes, kBankHeader);
        if (size != bytes.size() - kChunkBankHeader)
            return size > bytes.size() - kChunkBankHeader ? "it is truncated" : "it has bytes past its chunk";
        return {};
    }
    if (magic != "FxBk") return "it is not a bank file";
    const std::uint32_t numPrograms = bigEndian(bytes, 24);
    std::size_t at = kBankHeader;
    for (std::uint32_t p = 0; p < numPrograms; ++p) {
        if (bytes.size() - at < kProgramHeader) return "it is truncated";
        if (bytes.compare(at, 4, "CcnK") != 0 || bytes.compare(at + 8, 4, "FxCk") != 0)
            return "program " + std::to_string(p) + " is damaged";
        const std::uint64_t values = std::uint64_t{bigEndian(bytes, at + 24)} * 4;
        if (bytes.size() - at - kProgramHeader < values) return "it is truncated";
        at += kProgramHeader + static_cast<std::size_t>(values);
    }
    if (at != bytes.size()) return "it has bytes past its last program";
    return {};
}

} // namespace

std::string stateFolderOf(const std::string& projectFile) {
    std::string name = platform::fileNamePart(projectFile);
    if (name.size() > 5 && persist::sameName(std::string_view(name).substr(name.size() - 5), ".vprj"))
        name.resize(name.size() - 5);
    return folderOfFile(projectFile) + "/" + name + ".state";
}

std::string stateFileName(int number, int slotId) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d_%d.fxb", number, slotId);
    return text;
}

bool isStateFileName(const std::string& name) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (name.size() < 8 || !digit(name[0]) || !digit(name[1]) || name[2] != '_') return false;
    if (name.compare(name.size() - 4, 4, ".fxb") != 0) return false;
    for (std::size_t i = 3; i < name.size() - 4; ++i)
        if (!digit(name[i])) return false;
    return true;
}

std::string saveSlotState(TVstPlugIn& slot, const std::string& projectFile, int number,
                          std::set<std::string>& written) {
    const std::string folder = stateFolderOf(projectFile);
    const std::string name = stateFileName(number, slot.SlotID);
    const std::string target = folder + "/" + name;
    const bool live = slot.PlugLoaded.load() && slot.Active.load() && !slot.isQuarantined();
    const bool carried = !live && !slot.ProjectStateFile.empty() && platform::isRegularFile(slot.ProjectStateFile);
    if (!live && !carried) return {};

    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error)) {
        diag::hookedLogError("saveProject: cannot create the state folder \"" + folder + "\" (" +
                             (error ? error.message() : std::string("a file of that name is in the way")) +
                             "); the plug-ins' states are not kept");
        return {};
    }
    int program = -1;
    if (live) {
        program = slot.GetProgram();
        if (!slot.SaveStateBank(target)) {
            diag::hookedLogError("saveProject: the state of " + slotText(slot, name) + " was not kept (" +
                                 TVstPlugIn::lastPresetFailure() + "); it reopens from its preset keys");
            return {};
        }
    } else {
        program = slot.ProjectStateProgram;
        // The library is missing: the state it had stays with the project for its return.
        if (!fs::equivalent(slot.ProjectStateFile, target, error)) {
            std::string bytes, reason;
            if (!platform::readWholeFile(slot.ProjectStateFile, bytes) ||
                !platform::writeFileAtomically(target, bytes, reason)) {
                diag::hookedLogError("saveProject: cannot carry the state file \"" + slot.ProjectStateFile +
                                     "\" over to \"" + target + "\" " + reason);
                return {};
            }
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
    if (const std::string why = whyNotAWholeBank(bytes); !why.empty()) {
        diag::hookedLogError("loadProject: " + slotText(slot, prefix) + ": the state file \"" + file +
                             "\" is damaged (" + why + ")" + fallback);
        return false;
    }
    if (!slot.LoadStateBank(file, slot.ProjectStateProgram)) {
        diag::hookedLogError("loadProject: " + slotText(slot, prefix) + ": the state file \"" + file +
                             "\" did not load (" + TVstPlugIn::lastPresetFailure() + ")" + fallback);
        return false;
    }
    diag::hookedLog("loadProject: " + slotText(slot, prefix) + " restored from \"" + file + "\"");
    return true;
}

} // namespace trelvo::project
