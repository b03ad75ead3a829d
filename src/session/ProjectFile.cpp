#include "session/ProjectFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"
#include "presets/PresetList.h"
#include "project/SlotKeys.h"
#include "session/ProjectState.h"
#include "session/RackController.h"

namespace trelvo::project {

using host::TVstPlugIn;
using persist::IniHandle;
using persist::IniInt;
using persist::IniStr;
using platform::withTrailingSlash;
using rack::SlotKind;

namespace {

constexpr const char* kTemplateLibrary = "%dll.dll";

std::string slotPrefix(int number, const char* separator) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text + std::string(separator);
}

/// Why a file cannot be a project, or empty when it may be one: a project is a text file
/// of at most kMaxIniLines lines with a [Project] section.
std::string whyNotAProject(const std::string& file) {
    std::string text;
    if (!platform::readWholeFile(file, text)) return "cannot read " + file;
    const std::string expected = ": a Trelvo project (.vprj) is a text file with a [Project] section";
    if (text.empty()) return file + " is empty" + expected;
    if (text.compare(0, 4, "MThd") == 0) return file + " is a MIDI file" + expected;
    if (text.compare(0, 4, "RIFF") == 0) return file + " is a sound file" + expected;
    if (text.find('\0') != std::string::npos) return file + " is not a text file" + expected;
    const auto lines =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + (text.back() == '\n' ? 0 : 1);
    if (lines > persist::kMaxIniLines)
        return file + " has " + std::to_string(lines) + " lines, more than the " +
               std::to_string(persist::kMaxIniLines) +
               " Trelvo reads: it was not opened, so that saving cannot cut it short";
    bool hasProject = false;
    std::size_t start = 0;
    while (!hasProject && start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line = persist::trimmed(std::string_view(text).substr(start, end - start));
        hasProject = line.size() >= 9 && line.front() == '[' && persist::sameName(line.substr(0, 9), "[Project]");
        start = end + 1;
    }
    if (!hasProject) return file + " has no [Project] section" + expected;
    return {};
}

/// How many slots a project names past the rack's 32 (slot numbers 33 to 99).
int slotsBeyondTheRack(IniHandle& handle) {
    static const char* const kKinds[] = {"OUTPUT", "GROUP", "CHANNEL", "Track", "MIDI", "PLUGIN"};
    int beyond = 0;
    for (int number = rack::kMaxSlots + 1; number <= 99; ++number) {
        bool named = false;
        for (const char* kind : kKinds)
            for (const char* separator : {"**", "_"})
                named = named || !IniStr(handle, slotPrefix(number, separator) + kind, "").empty();
        if (named) ++beyond;
    }
    return beyond;
}

std::string folderOfFile(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

/// The "DLLfile" value of a library: its file name when that name alone finds it again (in
/// the program's folder, through its profile or in the VST folders); else, for a library
/// inside the project's folder, "./" and its path from there, so that it moves with the
/// project; else its whole path.
std::string libraryKey(const rack::RackController& controller, const std::string& library,
                       const std::string& projectFile) {
    const std::string name = platform::fileNamePart(library);
    if (library.empty() || library.front() != '/' || controller.resolveLibrary(name) == library) return name;
    const std::string folder = folderOfFile(projectFile);
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
    const std::string relative = persist::RelativePath(platform::withoutTrailingSlash(absolute), library);
    if (relative.empty() || relative.front() == '.' || relative.front() == '/') return library;
    return "./" + relative;
}

/// A "DLLfile" value as a path loadLibrary understands: a bare name stays bare (it is looked
/// for), a relative form is taken against the project's folder.
std::string libraryFromKey(const std::string& value, const std::string& projectFile) {
    const std::string library(persist::trimmed(value));
    const bool bare = library.find('/') == std::string::npos && library.find('\\') == std::string::npos;
    if (bare || library.front() == '/') return library;
    return persist::ExpandPath(folderOfFile(projectFile), library);
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void readRouting(IniHandle& handle, const std::string& prefix, TVstPlugIn& slot, rack::RackController& controller) {
    slot.midi->outputPortName = IniStr(handle, prefix + "oMid1-Port", "");
    midi::readRoutes(handle, prefix, slot.midi->routes,
                     [&controller](const std::string& port) { return controller.midi().resolvePort(port); });
}

std::string editorText(const TVstPlugIn& slot) {
    return std::string(slot.EditorShown.load() ? "1" : "0") + "," + std::to_string(slot.EditorLeft) + "," +
           std::to_string(slot.EditorTop == -22 ? 0 : slot.EditorTop) + "," + std::to_string(slot.EditorTab) + "," +
           std::to_string(slot.EditorStack);
}

void readEditor(IniHandle& handle, const std::string& prefix, TVstPlugIn& slot) {
    const std::string text = IniStr(handle, prefix + "Editor", "");
    if (text.size() < 7) return;
    persist::IniCursor cursor;
    persist::IniItem(-1, cursor, text);
    std::int32_t values[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i)
        if (!persist::parseWholeNumber(persist::trimmed(persist::IniItem(i, cursor)), values[i])) return;
    slot.EditorShown = values[0] != 0;
    slot.EditorLeft = std::max(values[1], 0);
    slot.EditorTop = values[2] == -22 ? 0 : values[2];
    slot.EditorTab = std::max(values[3], 0);
    slot.EditorStack = values[4];
    slot.EditorKeyRead = true;
}

/// Applies run-mode letters as a loaded slot starts: bypass and off silence it, mute mutes
/// it; a solo letter is reported back.
bool applyRunMode(TVstPlugIn& slot, const std::string& letters) {
    slot.runMode.reset();
    slot.runMode.assign(letters);
    const bool silenced = slot.runMode.isSet(rack::RunMode::Bypass) || slot.runMode.isSet(rack::RunMode::Off);
    slot.OnGain = silenced ? 0.0f : 1.0f;
    slot.MuteGain = slot.runMode.isSet(rack::RunMode::Mute) ? 0.0f : 1.0f;
    return slot.runMode.isSet(rack::RunMode::Solo);
}

bool onlyLetters(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

} // namespace

bool saveProject(rack::RackController& controller, const std::string& path) {
    rack::Rack& rack = controller.rack();
    const persist::AppSettings& settings = controller.appSettings();
    const int n = rack.numSlots();
    if (n == 0) return false;

    if (controller.templateSlot >= 0 && controller.libraryReplacedTemplate) {
        const std::string templates = withTrailingSlash(settings.templatesFolder);
        const bool inTemplates =
            path.size() > templates.size() && persist::sameName(path.substr(0, templates.size()), templates);
        if (inTemplates && upper(platform::fileNamePart(path)).find("TEMPLATE") != std::string::npos) {
            controller.showMessage(settings.templatesFolder + "\nCannot save template");
            return false;
        }
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !persist::EnsureFolder(path.substr(0, slash))) return false;

    const rack::RackController::Layout& layout = controller.layout;
    IniHandle handle;
    persist::OpenIni(handle, path, "Layout", persist::kIniClearKeysAlso);
    persist::IniBool(handle, "MainWindowMaximized", layout.maximized);
    if (!layout.maximized) {
        IniInt(handle, "MainWindowX", layout.x);
        IniInt(handle, "MainWindowY", layout.y);
        IniInt(handle, "MainWindowW", layout.width);
        IniInt(handle, "MainWindowH", layout.height);
    }
    IniInt(handle, "LTsplit", layout.listSplit);
    IniInt(handle, "LBsplit", layout.lowerSplit);
    IniStr(handle, "LprmDock", std::string(1, layout.parameterDock));
    IniInt(handle, "curLV", controller.selected + 1);
    const rack::PageTabs& pages = controller.pages;
    IniInt(handle, "curTab", pages.current + 1);

    persist::OpenIni(handle, path, "Tabs", persist::kIniClearKeysAlso);
    for (std::size_t t = 0; t < pages.names.size(); ++t) IniStr(handle, "Tab-" + std::to_string(t + 1), pages.names[t]);

    persist::OpenIni(handle, path, "Project", persist::kIniClearKeysAlso);
    IniInt(handle, "NrOfScenes", controller.scenes);
    int number = 0;
    std::set<std::string> stateFiles;
    for (int i = 0; i < n; ++i) {
        TVstPlugIn& slot = rack.slot(i);
        if (slot.isFree()) continue;
        const std::string p = slotPrefix(++number, "_");
        IniInt(handle, p + "SlotID", slot.SlotID);
        const std::string key(rack::projectWord(slot.kind()));
        if (key.empty()) continue; // input slots keep only their identity
        const bool isTemplate = i == controller.templateSlot;
        const bool loaded = slot.PlugLoaded.load() && slot.Active.load();
        if (slot.kind() == SlotKind::Plugin) {
            std::string name = slot.SlotName;
            if (!name.empty() && name[0] == '?') name.erase(0, 1);
            if (name == kTemplateLibrary || isTemplate) name = ".";
            IniStr(handle, p + key, name);
            IniStr(handle, p + "DLLfile",
                   isTemplate ? std::string(kTemplateLibrary) : libraryKey(controller, slot.DllPath, path));
            IniStr(handle, p + "RunMode", slot.runMode.text());
            if (slot.Isolated.load()) IniStr(handle, p + "isolated", "1");
        } else {
            IniStr(handle, p + key, slot.SlotName);
            IniStr(handle, p + "RunMode", slot.runMode.text().substr(0, 3));
        }
        writeVolumeKeys(handle, p, slot);
        if (slot.kind() == SlotKind::Midi) {
            presets::writeMidiProgramKeys(handle, p, slot);
            writeRoutingKeys(handle, p, slot);
        } else if (slot.kind() == SlotKind::Plugin) {
            if (loaded) slot.CurProgramName = slot.GetProgramName();
            writePresetKeys(handle, p, slot, isTemplate);
            if (!isTemplate) presets::writeMidiProgramKeys(handle, p, slot);
            if ((loaded && slot.hasEditor()) || (!loaded && slot.EditorKeyRead))
                IniStr(handle, p + "Editor", editorText(slot));
            else if (isTemplate)
                IniStr(handle, p + "Editor", "1,1,0,0,1");
            writeRoutingKeys(handle, p, slot);
            if (!isTemplate) {
                const std::string state = saveSlotState(slot, path, number, stateFiles);
                if (!state.empty()) IniStr(handle, p + "State", state);
            }
        }
    }
    for (int scene = 1; scene <= controller.scenes; ++scene)
        persist::OpenIni(handle, path, "Scene " + std::to_string(scene), persist::kIniClearKeys);
    if (!persist::CloseIni(handle)) return false;
    // Only once the project names its new files: a project that failed to save still names
    // the old ones.
    removeStaleStates(path, stateFiles);
    return true;
}

bool loadProject(rack::RackController& controller, const std::string& path) {
    persist::AppSettings& settings = controller.appSettings();
    std::string file = path;
    if (!platform::isRegularFile(file)) {
        file = withTrailingSlash(settings.projectsFolder) + platform::fileNamePart(path);
        if (!platform::isRegularFile(file)) return false;
    }
    // Refused before anything changes: the rack that plays stays as it is.
    if (const std::string why = whyNotAProject(file); !why.empty()) {
        controller.showMessage(why);
        return false;
    }
    rack::Rack& rack = controller.rack();
    controller.loading = true;
    controller.clearRack();
    controller.templateSlot = -1;
    controller.libraryReplacedTemplate = false;

    rack::RackController::Layout& layout = controller.layout;
    IniHandle handle;
    persist::OpenIni(handle, file, "Layout", persist::kIniRead);
    layout.x = IniInt(handle, "MainWindowX", layout.x);
    layout.y = IniInt(handle, "MainWindowY", layout.y);
    layout.width = IniInt(handle, "MainWindowW", layout.width);
    layout.height = IniInt(handle, "MainWindowH", layout.height);
    layout.maximized = persist::IniBool(handle, "MainWindowMaximized", layout.maximized);
    layout.listSplit = IniInt(handle, "LVsplit", IniInt(handle, "LTsplit", layout.listSplit));
    layout.lowerSplit = IniInt(handle, "LBsplit", layout.lowerSplit);
    const std::string dock = IniStr(handle, "LprmDock", std::string(1, layout.parameterDock));
    if (!dock.empty()) layout.parameterDock = dock[0];
    const int currentRow = IniInt(handle, "curLV", 1) - 1;
    const int currentTab = IniInt(handle, "curTab", 1) - 1;

    persist::OpenIni(handle, file, "Tabs", persist::kIniRead);
    std::vector<std::string> tabs;
    for (int t = 0; t <= 9 && tabs.size() < 9; ++t) {
        const std::string caption = IniStr(handle, "Tab-" + std::to_string(t), "");
        if (!caption.empty()) tabs.push_back(caption);
    }
    // A project without pages of its own gets the one page of a new rack, not the pages of
    // the project before it.
    controller.pages.names = tabs.empty() ? std::vector<std::string>{"Page 1"} : tabs;

    controller.holdAudio();
    persist::OpenIni(handle, file, "Project", persist::kIniRead);
    controller.scenes = std::max(0, IniInt(handle, "NrOfScenes", 0));
    bool anySolo = false, anyOutput = false;
    int highestTab = 0;
    int leftOut = slotsBeyondTheRack(handle);
    static const struct {
        const char* key;
        SlotKind kind;
        bool oldSeparator;
    } kKinds[] = {{"OUTPUT", SlotKind::Output, true},   {"GROUP", SlotKind::Group, true},
                  {"CHANNEL", SlotKind::Channel, true}, {"Track", SlotKind::Channel, false},
                  {"MIDI", SlotKind::Midi, true},       {"PLUGIN", SlotKind::Plugin, true}};
    for (int number = 1; number <= rack::kMaxSlots; ++number) {
        std::string prefix, name;
        SlotKind kind = SlotKind::Free;
        for (const auto& candidate : kKinds) {
            for (const char* separator : {"**", "_"}) {
                if (!candidate.oldSeparator && std::string(separator) == "**") continue;
                const std::string value = IniStr(handle, slotPrefix(number, separator) + candidate.key, "");
                if (value.empty()) continue;
                prefix = slotPrefix(number, separator);
                name = value;
                kind = candidate.kind;
                break;
            }
            if (kind != SlotKind::Free) break;
        }
        if (kind == SlotKind::Free) continue;
        if (rack.findFreeSlot() < 0) {
            diag::hookedLogError("loadProject: no free slot for " + prefix + name);
            ++leftOut;
            continue;
        }
        const std::string runMode = IniStr(handle, prefix + "RunMode", "");
        if (kind != SlotKind::Plugin) {
            const int index = rack.addSlot(kind);
            if (index < 0) {
                diag::hookedLogError("loadProject: " + prefix + name + " is beyond the limit of its kind");
                continue;
            }
            TVstPlugIn& slot = rack.slot(index);
            slot.SlotName = name;
            rack.assignIdentity(index, IniInt(handle, prefix + "SlotID", 0));
            anySolo = applyRunMode(slot, runMode.size() == 3 && onlyLetters(runMode) ? runMode : "bms") || anySolo;
            anyOutput = anyOutput || kind == SlotKind::Output;
            readVolumeKeys(handle, prefix, slot);
            if (kind == SlotKind::Midi) {
                presets::readMidiProgramKeys(handle, prefix, slot, false);
                readRouting(handle, prefix, slot, controller);
            }
            continue;
        }

        std::string library = IniStr(handle, prefix + "DLLfile", "");
        if (library.empty()) continue;
        if (library != kTemplateLibrary) library = libraryFromKey(library, file);
        const int index = rack.numSlots();
        const bool isTemplate = library == kTemplateLibrary;
        if (isTemplate) {
            controller.templateSlot = index;
            if (!controller.pendingLibrary.empty()) {
                library = controller.pendingLibrary;
                controller.libraryReplacedTemplate = true;
            }
        }
        diag::Status("loading:" + library);
        const bool loaded = controller.loadLibrary(
            index, library,
            [&](TVstPlugIn& slot) {
                readPresetKeys(handle, prefix, slot);
                presets::readMidiProgramKeys(handle, prefix, slot, false);
                readStateKey(handle, prefix, file, slot);
            },
            [&](TVstPlugIn& slot) { return restoreSlotState(slot, prefix); },
            IniBool(handle, prefix + "isolated", false) ? 1 : -1);
        TVstPlugIn& slot = rack.slot(index);
        rack.assignIdentity(index, IniInt(handle, prefix + "SlotID", 0));
        readEditor(handle, prefix, slot);
        const std::string stored = name == "." ? std::string() : name;
        if (loaded)
            slot.SlotName = stored.empty() ? slot.PlugDisplayName : stored;
        else if (!stored.empty())
            slot.SlotName = "?" + stored;
        std::string letters = runMode.size() == 3 ? runMode + "o" : runMode;
        if (letters.size() != 4 || !onlyLetters(letters)) letters = "bmso";
        anySolo = applyRunMode(slot, letters) || anySolo;
        readVolumeKeys(handle, prefix, slot);
        readRouting(handle, prefix, slot, controller);
        highestTab = std::max(highestTab, slot.EditorTab);
    }
    persist::CloseIni(handle);
    if (leftOut > 0)
        controller.showMessage("the project " + file + " holds more slots than the rack's " +
                               std::to_string(rack::kMaxSlots) + ": " + std::to_string(leftOut) +
                               (leftOut == 1 ? " slot was" : " slots were") + " left out");

    if (!anyOutput) {
        const int index = rack.addSlot(SlotKind::Output);
        for (int i = index; i > 0; --i) rack.exchangeSlots(i - 1, i);
    }
    for (int i = 0; i < rack.numSlots(); ++i) {
        TVstPlugIn& slot = rack.slot(i);
        if (anySolo) {
            slot.SoloGain = slot.runMode.isSet(rack::RunMode::Solo) ? 1.0f : 0.0f;
        } else {
            slot.SoloGain = 1.0f;
            slot.smoothed.solo = 1.0f;
        }
    }
    rack.host().anySolo = anySolo;
    controller.releaseAudio();
    controller.loading = false;

    controller.selected = currentRow >= 0 && currentRow < rack.numSlots() ? currentRow : 0;
    controller.pages.current = currentTab >= 0 && currentTab <= highestTab ? currentTab : 0;
    controller.rebuildRows();
    controller.select(controller.selected);
    return rack.numSlots() > 0;
}

} // namespace trelvo::project
