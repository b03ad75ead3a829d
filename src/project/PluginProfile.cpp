#include "project/PluginProfile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"
#include "presets/PresetList.h"
#include "project/SlotKeys.h"

namespace trelvo::project {

using host::TVstPlugIn;
using persist::IniBool;
using persist::IniHandle;
using persist::IniStr;
using platform::withoutTrailingSlash;
using platform::withTrailingSlash;

namespace {

std::string stemOf(const std::string& path) {
    const std::string file = platform::fileNamePart(path);
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

void announce(const std::string& libraryPath) {
    diag::hookedLog(".setPluginPRF \"" + libraryPath + "\"");
}

char upperAt(const std::string& text, std::size_t position) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[position])));
}

const char* fxpFxbWord(int value) {
    static const char* const words[] = {"none", "FXP", "FXB", "both"};
    return words[std::clamp(value, 0, 3)];
}

/// "x,y,d" with d 1 (left), 2 (right) or 3 (both) into the stored point.
void readMouseClick(IniHandle& handle, const char* key, int& x, int& y) {
    x = y = 0;
    const std::string text = IniStr(handle, key, "");
    if (text.size() < 3) return;
    persist::IniCursor cursor;
    if (persist::IniItem(-1, cursor, text) == persist::kIniError) return;
    std::int32_t values[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
        if (!persist::parseWholeNumber(persist::trimmed(persist::IniItem(i, cursor)), values[i])) return;
    x = values[0] | ((values[2] & 1) != 0 ? 0x4000 : 0);
    y = values[1] | ((values[2] & 2) != 0 ? 0x4000 : 0);
}

/// A number with at most three digits after the point, without trailing zeros.
std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string result = text;
    while (!result.empty() && result.back() == '0') result.pop_back();
    if (!result.empty() && result.back() == '.') result.pop_back();
    return result == "-0" ? "0" : result;
}

bool parseNumber(std::string_view text, double& value) {
    const std::string copy(persist::trimmed(text));
    if (copy.empty()) return false;
    char* end = nullptr;
    const double parsed = std::strtod(copy.c_str(), &end);
    if (end == nullptr || *end != '\0') return false;
    value = parsed;
    return true;
}

void readParamMap(IniHandle& handle, const std::string& file, TVstPlugIn& slot) {
    const int parameters = std::max(slot.effectNumParams(), 0);
    slot.ParamMap.assign(static_cast<std::size_t>(parameters), TVstPlugIn::ParamMapEntry{});
    slot.ParamMapReverse.assign(static_cast<std::size_t>(parameters), -1);
    persist::OpenIni(handle, file, "ParamMap", persist::kIniEnumerate);
    int rows = 0;
    for (int counted = 0; counted < 10000; ++counted) {
        const std::string line = IniStr(handle, "", "");
        if (line.empty()) break;
        persist::IniCursor cursor;
        const std::string key = persist::IniItem(-1, cursor, line);
        std::int32_t row = -1;
        if (key.size() < 3 || !persist::sameName(key.substr(0, 2), "p-") ||
            !persist::parseWholeNumber(key.substr(2), row))
            continue;
        // One place per plug-in parameter: rows beyond them have nowhere to go.
        if (row < 0 || row >= parameters) continue;
        TVstPlugIn::ParamMapEntry entry;
        std::int32_t index = -1;
        if (persist::parseWholeNumber(persist::trimmed(persist::IniItem(0, cursor)), index)) entry.index = index;
        double number = 0.0;
        if (parseNumber(persist::IniItem(1, cursor), number)) entry.minimum = number;
        if (parseNumber(persist::IniItem(2, cursor), number)) entry.maximum = number;
        if (parseNumber(persist::IniItem(3, cursor), number)) entry.step = number;
        entry.name = std::string(persist::trimmed(persist::IniItem(4, cursor))).substr(0, 11);
        slot.ParamMap[static_cast<std::size_t>(row)] = entry;
        if (entry.index >= 0 && entry.index < parameters)
            slot.ParamMapReverse[static_cast<std::size_t>(entry.index)] = row;
        rows = std::max(rows, row + 1);
    }
    slot.ParamMap.resize(static_cast<std::size_t>(rows));
}

void writeParamMap(IniHandle& handle, const std::string& file, const TVstPlugIn& slot) {
    persist::OpenIni(handle, file, "ParamMap", persist::kIniClearKeys);
    for (std::size_t row = 0; row < slot.ParamMap.size(); ++row) {
        const TVstPlugIn::ParamMapEntry& entry = slot.ParamMap[row];
        const bool named = !entry.name.empty();
        const bool stepped = named || entry.step != 0.001;
        const bool ranged = stepped || entry.minimum != 0.0 || entry.maximum != 1.0;
        std::string value = std::to_string(entry.index);
        if (ranged) value += "," + shortNumber(entry.minimum) + "," + shortNumber(entry.maximum);
        if (stepped) value += "," + shortNumber(entry.step);
        if (named) value += "," + entry.name.substr(0, 11);
        IniStr(handle, "p-" + std::to_string(row), value);
    }
}

} // namespace

std::string vstIdText(std::int32_t id) {
    const auto bits = static_cast<std::uint32_t>(id);
    std::string text;
    bool printable = true;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<unsigned char>(bits >> shift);
        printable = printable && byte >= 32 && byte <= 126;
        text += static_cast<char>(byte);
    }
    if (printable) return text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%08X", bits);
    return hex;
}

std::string acceptedIdsText(const TVstPlugIn& slot) {
    std::string ids;
    for (std::int32_t id : slot.AltUniqueIds) {
        if (id == 0 || id == slot.effectUniqueID()) continue;
        if (!ids.empty()) ids += ',';
        ids += vstIdText(id);
    }
    return ids;
}

std::int32_t parseVstId(std::string_view text) {
    if (text.size() == 4) {
        std::uint32_t id = 0;
        for (char c : text) id = (id << 8) | static_cast<unsigned char>(c);
        return static_cast<std::int32_t>(id);
    }
    if (text.size() == 9 && text[0] == '$') {
        std::uint32_t id = 0;
        for (char c : text.substr(1)) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
            id = (id << 4) | static_cast<std::uint32_t>(
                                 std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10));
        }
        return static_cast<std::int32_t>(id);
    }
    return 0;
}

std::string profilePath(const persist::AppSettings& settings, const std::string& libraryPath) {
    return withTrailingSlash(settings.vstProfilesFolder) + stemOf(libraryPath) + ".vprf";
}

std::string profileLibraryPath(const persist::AppSettings& settings, const std::string& libraryPath) {
    announce(libraryPath);
    const std::string file = profilePath(settings, libraryPath);
    if (!platform::isRegularFile(file)) return {};
    IniHandle handle;
    persist::OpenIni(handle, file, "VST", persist::kIniRead);
    const std::string folder(persist::trimmed(IniStr(handle, "DLLpath", "")));
    persist::CloseIni(handle);
    if (folder.empty()) return {};
    const std::string name = platform::fileNamePart(libraryPath);
    // The folder is stored relative to the VST folder that held the library; an absolute
    // one stands for itself.
    for (const auto& [vstFolder, caption] : settings.vstFolders) {
        const std::string candidate =
            withTrailingSlash(persist::ExpandPath(withTrailingSlash(vstFolder), folder)) + name;
        if (platform::isRegularFile(candidate)) return candidate;
    }
    return withTrailingSlash(persist::ExpandPath({}, folder)) + name;
}

bool profileIsolated(const persist::AppSettings& settings, const std::string& libraryPath) {
    const std::string file = profilePath(settings, libraryPath);
    if (!platform::isRegularFile(file)) return false;
    IniHandle handle;
    persist::OpenIni(handle, file, "VST", persist::kIniRead);
    const bool isolated = IniBool(handle, "isolated", false);
    persist::CloseIni(handle);
    return isolated;
}

bool readProfile(const persist::AppSettings& settings, TVstPlugIn& slot, const midi::PortResolver& resolve,
                 const std::string& profileFile) {
    announce(slot.DllPath);
    const std::string file = profileFile.empty() ? profilePath(settings, slot.DllPath) : profileFile;
    if (!platform::isRegularFile(file)) return false;
    IniHandle handle;
    persist::OpenIni(handle, file, "VST", persist::kIniRead);
    slot.SlotName = IniStr(handle, "SlotName", slot.SlotName);
    diag::hookedLog("rdVPRF: SlotName=" + slot.SlotName + ", SlotIdx=" + std::to_string(slot.SlotIdx));
    slot.DllTemplate = IniStr(handle, "DLLtemplate", slot.DllTemplate);
    readPresetKeys(handle, "", slot);
    presets::readMidiProgramKeys(handle, "", slot, true);
    slot.MidiIns = IniStr(handle, "MidiIns", slot.MidiIns);
    slot.MidiThru = IniBool(handle, "MidiThru", slot.MidiThru);
    slot.isMidiVport = IniBool(handle, "isMidiVport", slot.isMidiVport);
    slot.midi->chgFxpOnMidiPc = IniBool(handle, "chgFXP_on_MidiPC", slot.midi->chgFxpOnMidiPc);

    const std::string ids = IniStr(handle, "LoadChkVstIDs", "");
    if (!ids.empty()) {
        slot.AltUniqueIds.fill(0);
        persist::IniCursor cursor;
        persist::IniItem(-1, cursor, ids);
        std::size_t filled = 0;
        for (int i = 0; i < 10; ++i) {
            const std::int32_t id = parseVstId(persist::trimmed(persist::IniItem(i, cursor)));
            if (id != 0 && id != slot.effectUniqueID() && filled < slot.AltUniqueIds.size())
                slot.AltUniqueIds[filled++] = id;
        }
    }
    if (const std::string use = IniStr(handle, "useFXP_FXB", ""); use.size() >= 3) {
        switch (upperAt(use, 2)) {
        case 'B': slot.UseFxpFxb = 2; break;
        case 'N': slot.UseFxpFxb = 0; break;
        case 'P': slot.UseFxpFxb = 1; break;
        case 'T': slot.UseFxpFxb = 3; break;
        default: break;
        }
    }
    const auto programChangeWord = [&handle](const char* key, std::string& field) {
        const std::string value = IniStr(handle, key, "");
        if (value.size() < 3) return;
        switch (upperAt(value, 1)) {
        case 'F': field = "off"; break;
        case 'O': field = "post"; break;
        case 'R': field = "pre"; break;
        default: break;
        }
    };
    programChangeWord("PCmouseWheel", slot.PcMouseWheel);
    programChangeWord("PCkeys", slot.PcKeys);
    slot.CanResize = IniBool(handle, "canResize", slot.CanResize);
    readMouseClick(handle, "mouseOffFocus", slot.MouseOffFocusX, slot.MouseOffFocusY);
    readMouseClick(handle, "mouseOnFocus", slot.MouseOnFocusX, slot.MouseOnFocusY);
    if (const std::string help = IniStr(handle, "HelpFile", ""); !help.empty())
        slot.HelpFile = persist::ExpandPath(libraryFolder(slot), help);
    slot.UsePrmMap = IniBool(handle, "usePrmMap", slot.UsePrmMap);
    slot.UsePrjMap = IniBool(handle, "usePrjMap", slot.UsePrjMap);

    readParamMap(handle, file, slot);
    persist::OpenIni(handle, file, "Levels", persist::kIniRead);
    readVolumeKeys(handle, "", slot);
    persist::OpenIni(handle, file, "MIDIin", persist::kIniRead);
    slot.midi->outputPortName = IniStr(handle, "oMid1-Port", slot.midi->outputPortName);
    midi::RouteBlock routes;
    midi::readRoutes(handle, "", routes, resolve);
    // A profile without routing keys keeps the slot's routes.
    if (!routes.routes[0].portName.empty()) slot.midi->routes = routes;
    persist::CloseIni(handle);
    diag::hookedLog("SlotIdx=" + std::to_string(slot.SlotIdx));
    return true;
}

bool writeProfile(const persist::AppSettings& settings, const TVstPlugIn& slot) {
    announce(slot.DllPath);
    const std::string file = profilePath(settings, slot.DllPath);
    IniHandle handle;
    persist::OpenIni(handle, file, "VST", persist::kIniWrite);
    std::string folder = withoutTrailingSlash(libraryFolder(slot));
    for (const auto& [vstFolder, caption] : settings.vstFolders) {
        const std::string base = withTrailingSlash(vstFolder);
        if (base.size() <= folder.size() + 1 &&
            persist::sameName(std::string_view(withTrailingSlash(folder)).substr(0, base.size()), base)) {
            folder = withoutTrailingSlash(persist::RelativePath(base, withTrailingSlash(folder)));
            break;
        }
    }
    IniStr(handle, "DLLpath", folder);
    IniStr(handle, "SlotName", slot.SlotName);
    IniStr(handle, "DLLtemplate", slot.DllTemplate);
    writePresetKeys(handle, "", slot, false);
    presets::writeMidiProgramKeys(handle, "", slot);
    IniStr(handle, "MidiIns", slot.MidiIns);
    IniBool(handle, "MidiThru", slot.MidiThru);
    IniBool(handle, "isMidiPlugin", slot.isMidiPlugin);
    IniBool(handle, "isMidiVport", slot.isMidiVport);
    IniBool(handle, "chgFXP_on_MidiPC", slot.midi->chgFxpOnMidiPc);
    IniStr(handle, "noLoadChkVstID", ""); // an older key, deleted
    IniStr(handle, "LoadChkVstIDs", acceptedIdsText(slot));
    IniStr(handle, "useFXP_FXB", fxpFxbWord(slot.UseFxpFxb));
    IniStr(handle, "PCkeys", slot.PcKeys);
    IniStr(handle, "PCmouseWheel", slot.PcMouseWheel);
    IniBool(handle, "canResize", slot.CanResize);
    IniStr(handle, "HelpFile",
           slot.HelpFile.empty() ? std::string() : persist::RelativePath(libraryFolder(slot), slot.HelpFile));
    IniBool(handle, "usePrmMap", slot.UsePrmMap);
    // Only an isolated plug-in carries the key.
    IniStr(handle, "isolated", slot.Isolated.load() ? "1" : "");
    const bool mapped =
        std::any_of(slot.ParamMap.begin(), slot.ParamMap.end(), [](const auto& entry) { return entry.index >= 0; });
    if (mapped) writeParamMap(handle, file, slot);
    persist::OpenIni(handle, file, "Levels", persist::kIniClearKeys);
    writeVolumeKeys(handle, "", slot);
    persist::OpenIni(handle, file, "MIDIin", persist::kIniClearKeys);
    writeRoutingKeys(handle, "", slot);
    return persist::CloseIni(handle);
}

} // namespace trelvo::project
