#include "presets/PresetList.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/TVstPlugIn.h"
#include "platform/TrelvoHome.h"
#include "presets/InstrumentDefinition.h"
#include "presets/PresetText.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"

namespace trelvo::presets {

using host::TVstPlugIn;

namespace {

/// A program's name: effGetProgramNameIndexed when the plug-in answers it, else by
/// switching to the program (switched tells the caller to switch back).
std::string programName(TVstPlugIn& slot, int program, bool& switched) {
    char buffer[256] = {};
    if (slot.GetProgramNameIndexed(-1, program, buffer) == 1)
        return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
    switched = true;
    slot.SetProgram(program);
    return slot.GetProgramName();
}

} // namespace

bool ResolveCode(int request, int current, int selectedItem, int low, int high, int& target) noexcept {
    if (high <= 0) {
        target = 0;
        return true;
    }
    if (request >= 0) {
        target = request;
    } else {
        switch (request) {
        case kSelectedItem: target = selectedItem; break;
        case kFirstPreset: target = low; break;
        case kPreviousPreset: target = current - 1; break;
        case kNextPreset: target = current + 1; break;
        case kLastPreset: target = high; break;
        default: return false;
        }
    }
    target = std::clamp(target, low, high);
    return true;
}

std::string PresetItem::name() const {
    const std::size_t colon = text.find(':');
    return std::string(persist::trimmed(colon == std::string::npos ? std::string_view(text)
                                                                   : std::string_view(text).substr(colon + 1)));
}

std::string presetItemText(int number, const std::string& name) {
    return "  " + threeDigits(number) + ": " + name;
}

std::vector<std::string> listPresetFolder(const std::string& folder, const std::string& extension) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool wanted = extension.empty()
                                ? it->is_directory(error)
                                : it->is_regular_file(error) && lowered(it->path().extension().string()) == extension;
        if (wanted) names.push_back(name);
    }
    // Case decides only between names that differ in nothing else, so the kept one of a
    // pair of duplicates does not depend on the order the folder lists them in.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = lowered(a), lb = lowered(b);
        return la != lb ? la < lb : a < b;
    });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return persist::sameName(a, b); }),
                names.end());
    return names;
}

std::string currentFxpFolder(const TVstPlugIn& slot) {
    const std::string root = platform::withTrailingSlash(slot.FXPfolder);
    return slot.FXPbank.empty() ? root : root + slot.FXPbank + "/";
}

PresetList::PresetList(rack::Rack& owner, midi::MidiLayer& midi, Environment environment)
    : rack(owner), midiLayer(midi), env(std::move(environment)) {}

TVstPlugIn* PresetList::loadedSlot(int slot) {
    if (slot < 0 || slot >= rack.numSlots()) return nullptr;
    TVstPlugIn& entry = rack.slot(slot);
    return entry.PlugLoaded.load() && entry.Active.load() ? &entry : nullptr;
}

// ---- Selection ----

void PresetList::SelectPreset(int slot, int request, bool holdAudio) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return;
    const char mode = entry->ProgramMode();
    if (mode == 'm' && entry->MidiBankStyle() != ' ') {
        midiSelection(*entry, request);
        return;
    }
    if ((mode == 's' || mode == 'x') && PresetView == 0) {
        int target = 0;
        const int selected = slot == listSlot ? selectedItem : entry->CurProgram;
        if (!ResolveCode(request, entry->CurProgram, selected, 0, entry->NumPrograms - 1, target)) return;
        entry->SetProgram(target);
        if (mode == 's') listRebuildRequested = true;
        env.requestDisplayRefresh(slot);
        return;
    }
    if (mode != 's' && mode != 'x' && mode != 'p') return;
    // A slot other than the one the list shows resolves against its own folders.
    const std::vector<PresetItem> list = slot == listSlot ? items : itemsFor(*entry, PresetView);
    if (list.empty()) return;
    const int selected = slot == listSlot ? selectedItem : currentItemOf(*entry, list, PresetView);
    int target = 0;
    if (!ResolveCode(request, selected, selected, 0, static_cast<int>(list.size()) - 1, target)) return;
    const std::string name = list[static_cast<std::size_t>(target)].name();
    if (mode == 'p' && PresetView == 1) {
        entry->FXPbank = name;
        if (slot == listSlot) selectedItem = target;
        displayChanged = true;
        env.requestDisplayRefresh(slot);
        return;
    }
    LoadPresetByName(slot, name, holdAudio);
}

int PresetList::numSelectable(int slot) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return 0;
    const char mode = entry->ProgramMode();
    if (mode == 'm' && entry->MidiBankStyle() != ' ') return -1;
    if ((mode == 's' || mode == 'x') && PresetView == 0) return std::max(entry->NumPrograms, 0);
    if (mode != 's' && mode != 'x' && mode != 'p') return 0;
    return static_cast<int>(slot == listSlot ? items.size() : itemsFor(*entry, PresetView).size());
}

std::string PresetList::findPresetFile(TVstPlugIn& slot, const std::string& name, const std::string& folder) {
    // A name with a folder is taken as it is; a bare name is never looked up in the
    // program's working folder.
    if (name.find('/') != std::string::npos && platform::isRegularFile(name)) return name;
    const std::string file = platform::fileNamePart(name);
    std::vector<std::string> candidates{platform::withTrailingSlash(folder) + name, folderOf(slot.DllPath) + file};
    for (const std::string& searched : env.searchFolders())
        candidates.push_back(platform::withTrailingSlash(searched) + file);
    for (const std::string& candidate : candidates)
        if (!candidate.empty() && platform::isRegularFile(candidate)) return candidate;
    return {};
}

bool PresetList::LoadPresetByName(int slot, const std::string& name, bool holdAudio, bool firstWhenUnknown) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    const bool absolute = !name.empty() && name[0] == '/';
    const std::string extension = extensionOf(name);
    int target = 0;
    bool found = false;
    bool switched = false;
    const int current = entry->CurProgram;
    if (extension == ".fxp") {
        const std::string file = findPresetFile(*entry, name, currentFxpFolder(*entry));
        if (!file.empty()) return LoadFxp(slot, file, holdAudio);
    } else if (extension == ".fxb") {
        const std::string file = findPresetFile(*entry, name, entry->FXBfolder);
        if (!file.empty()) {
            if (holdAudio) env.holdAudio(true);
            entry->LoadBank(file);
            if (holdAudio) env.holdAudio(false);
            entry->FXBfile = name;
            displayChanged = true;
            found = true;
        }
    } else if (entry->NumPrograms >= 1 && (entry->UseFxpFxb & 1) != 0) {
        for (int p = 0; p < entry->NumPrograms; ++p) {
            if (persist::sameName(persist::trimmed(programName(*entry, p, switched)), persist::trimmed(name))) {
                target = p;
                found = true;
                break;
            }
        }
    }
    if (!found && !firstWhenUnknown) {
        // Names may have been looked up by switching programs: the one that played plays again.
        if (switched) entry->SetProgram(current);
        return false;
    }
    entry->SetProgram(target);
    if (!absolute) env.requestDisplayRefresh(slot);
    return found;
}

bool PresetList::LoadFxp(int slot, const std::string& file, bool holdAudio) {
    TVstPlugIn* entry = loadedSlot(slot);
    if (entry == nullptr) return false;
    if (holdAudio) env.holdAudio(true);
    const bool loaded = entry->LoadPreset(file);
    if (holdAudio) env.holdAudio(false);
    if (loaded) {
        displayChanged = true;
        RefreshPresetDisplay(slot);
        pendingPresetChange = -1;
    }
    return loaded;
}

// ---- MIDI program selection ----

void PresetList::midiSelection(TVstPlugIn& slot, int request) {
    const char style = slot.MidiBankStyle();
    rack::MidiSelectState& select = slot.MidiSelect;
    if (request <= -1 && request >= -16) {
        select.Channel = -request - 1;
        sendMidiSelection(slot, select.Channel);
        ShowPresetCaption(slot.SlotIdx);
        return;
    }
    const int channel = std::clamp(select.Channel, 0, 15);
    const auto c = static_cast<std::size_t>(channel);
    std::uint8_t& value = PresetView == 0   ? select.Program[c]
                          : PresetView == 1 ? (capitalOf(style) == 'M' ? select.BankMsb[c] : select.BankLsb[c])
                                            : select.BankMsb[c];
    const bool shown = slot.SlotIdx == listSlot;
    if (!shown || items.empty()) {
        int target = 0;
        if (!ResolveCode(request, value, value, 0, 127, target)) return;
        value = static_cast<std::uint8_t>(target);
    } else {
        const int first = isCapital(style) ? 1 : 0;
        int chosen = -1;
        if (PresetView == 0 && request >= first && request <= first + 127) {
            for (int i = static_cast<int>(items.size()) - 1; i >= 0 && chosen < 0; --i)
                if (items[static_cast<std::size_t>(i)].number == request) chosen = i;
            if (chosen < 0) return;
        } else if (!ResolveCode(request, selectedItem, selectedItem, 0, static_cast<int>(items.size()) - 1, chosen)) {
            return;
        }
        value = static_cast<std::uint8_t>(items[static_cast<std::size_t>(chosen)].number & 127);
        selectedItem = chosen;
    }
    if (PresetView == 0) sendMidiSelection(slot, channel);
    ShowPresetCaption(slot.SlotIdx);
}

void PresetList::sendMidiSelection(TVstPlugIn& slot, int channel) {
    const auto c = static_cast<std::size_t>(std::clamp(channel, 0, 15));
    const auto control = static_cast<std::uint8_t>(0xB0 + c);
    const rack::MidiSelectState& select = slot.MidiSelect;
    const char style = capitalOf(slot.MidiBankStyle());
    if (style == 'B' || style == 'M') midiLayer.sendToSlot(slot, control, 0, select.BankMsb[c]);
    if (style == 'B' || style == 'L' || style == 'R') midiLayer.sendToSlot(slot, control, 32, select.BankLsb[c]);
    if (style == 'R') midiLayer.sendToSlot(slot, control, 0, select.BankMsb[c]);
    midiLayer.sendToSlot(slot, static_cast<std::uint8_t>(0xC0 + c), select.Program[c], 0);
}

std::string PresetList::typedNumberPrefix(int slot, bool channelEntry) const {
    if (channelEntry) return "chn:";
    const bool midiMode = slot >= 0 && slot < rack.numSlots() && rack.slot(slot).ProgramMode() == 'm' &&
                          rack.slot(slot).MidiBankStyle() != ' ';
    switch (PresetView) {
    case 0: return "pgm:";
    case 1:
        if (!midiMode) return "bnk:";
        return capitalOf(rack.slot(slot).MidiBankStyle()) == 'M' ? "msb:" : "lsb:";
    default: return "msb:";
    }
}

void PresetList::typedNumberEntered(int slot, bool channelEntry, int number) {
    if (slot < 0 || slot >= rack.numSlots()) return;
    TVstPlugIn& entry = rack.slot(slot);
    if (channelEntry) {
        // Entry number (from 1) of the slot's program-change list, one per MIDI channel it
        // uses; a number beyond the list names nothing.
        if (number < 1 || number > std::min(entry.MidiChannelCount, 16)) return;
        if (loadedSlot(slot) != nullptr && entry.ProgramMode() == 'm' && entry.MidiBankStyle() != ' ') {
            midiSelection(entry, -number); // as selection code -number: current, sent again
        } else {
            entry.MidiSelect.Channel = number - 1;
            ShowPresetCaption(slot);
        }
        return;
    }
    if (PresetView == 0 && isCapital(entry.MidiBankStyle())) --number;
    // Counted from 1, a typed 0 names no program; as -1 it would read as a selection code.
    if (number < 0) return;
    SelectPreset(slot, number, true);
}

void PresetList::setMidiChannelCount(TVstPlugIn& slot, int count) {
    slot.MidiChannelCount = std::clamp(count, 1, 16);
    for (int c = 0; c < 16; ++c) slot.MidiChannelUsed[static_cast<std::size_t>(c)] = c < slot.MidiChannelCount;
}

// ---- The list ----

std::vector<PresetItem> PresetList::programItems(TVstPlugIn& slot) {
    std::vector<PresetItem> list;
    const int count = std::clamp(slot.NumPrograms, 0, 100000);
    list.reserve(static_cast<std::size_t>(count));
    const bool withNames = (slot.UseFxpFxb & 1) != 0;
    const int previous = slot.CurProgram;
    bool switched = false;
    for (int p = 0; p < count; ++p)
        list.push_back(
            {presetItemText(p, withNames ? std::string(persist::trimmed(programName(slot, p, switched))) : ""), p});
    // Fetching names by switching programs leaves the plug-in on another one.
    if (switched) slot.SetProgram(previous);
    return list;
}

std::vector<PresetItem> PresetList::itemsFor(TVstPlugIn& slot, int view) {
    const char mode = slot.ProgramMode();
    std::vector<std::string> names;
    if ((mode == 's' || mode == 'x') && view == 0) return programItems(slot);
    if (mode == 's' && view == 1)
        names = listPresetFolder(slot.FXBfolder, ".fxb");
    else if ((mode == 'x' && view == 1) || (mode == 'p' && view == 0))
        names = listPresetFolder(currentFxpFolder(slot), ".fxp");
    else if (mode == 'p' && view == 1)
        names = listPresetFolder(slot.FXPfolder, "");
    if (mode == 'm') return view <= 1 ? instrumentItems(slot, env.instrumentFolder(), view) : std::vector<PresetItem>();
    std::vector<PresetItem> list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list.push_back({presetItemText(static_cast<int>(i), names[i]), static_cast<int>(i)});
    return list;
}

int PresetList::currentItemOf(TVstPlugIn& slot, const std::vector<PresetItem>& list, int view) const {
    const char mode = slot.ProgramMode();
    std::string current;
    if ((mode == 's' || mode == 'x') && view == 0)
        return slot.CurProgram >= 0 && slot.CurProgram < static_cast<int>(list.size()) ? slot.CurProgram : -1;
    if (mode == 's' && view == 1)
        current = platform::fileNamePart(slot.FXBfile);
    else if ((mode == 'x' && view == 1) || (mode == 'p' && view == 0))
        current = slot.PresetFileName;
    else if (mode == 'p' && view == 1)
        current = slot.FXPbank;
    if (mode == 'm' && view <= 1) {
        const auto c = static_cast<std::size_t>(std::clamp(slot.MidiSelect.Channel, 0, 15));
        const int wanted =
            view == 0 ? slot.MidiSelect.Program[c] : slot.MidiSelect.BankMsb[c] * 128 + slot.MidiSelect.BankLsb[c];
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].number == wanted) return static_cast<int>(i);
        return -1;
    }
    for (std::size_t i = 0; i < list.size(); ++i)
        if (!current.empty() && persist::sameName(list[i].name(), current)) return static_cast<int>(i);
    return -1;
}

void PresetList::FillPresetList(int slot) {
    if (slot < 0 || slot >= rack.numSlots()) return;
    TVstPlugIn& entry = rack.slot(slot);
    const bool sameSlot = slot == listSlot;
    listSlot = slot;
    if (!entry.PlugLoaded.load() || !entry.Active.load()) {
        items.clear();
        selectedItem = -1;
    } else {
        std::vector<PresetItem> fresh = itemsFor(entry, PresetView);
        // An unchanged list stays as it is (the window keeps its scroll position).
        const bool unchanged = sameSlot && !displayChanged && fresh.size() == items.size() &&
                               std::equal(fresh.begin(), fresh.end(), items.begin(),
                                          [](const PresetItem& a, const PresetItem& b) { return a.text == b.text; });
        if (!unchanged) items = std::move(fresh);
        selectedItem = currentItemOf(entry, items, PresetView);
    }
    displayChanged = false;
    listRebuildRequested = false;
    ShowPresetCaption(slot);
}

void PresetList::ShowPresetCaption(int slot) {
    if (slot < 0 || slot >= rack.numSlots()) return;
    const TVstPlugIn& entry = rack.slot(slot);
    if (!entry.PlugLoaded.load()) {
        caption = "(no presets)";
        return;
    }
    const char mode = entry.ProgramMode();
    const char style = entry.MidiBankStyle();
    const auto fxbName = [&entry] {
        std::string file = platform::fileNamePart(entry.FXBfile);
        const std::size_t dot = file.rfind('.');
        return dot == std::string::npos ? file : file.substr(0, dot);
    };
    const auto fxpPresets = [&entry] {
        return entry.FXPbank.empty() ? std::string("Presets (fxp)") : "Presets (fxp) \\" + entry.FXPbank;
    };
    if (mode == 'm' && style != ' ') {
        const auto c = static_cast<std::size_t>(std::clamp(entry.MidiSelect.Channel, 0, 15));
        const char* label =
            PresetView == 0 ? "Program" : (PresetView == 2 || capitalOf(style) == 'M' ? "BankMSB" : "BankLSB");
        caption = "MIDIchn:" + std::to_string(c + 1) + " " + label + ": " + threeDigits(entry.MidiSelect.BankMsb[c]) +
                  "." + threeDigits(entry.MidiSelect.BankLsb[c]) + "." +
                  threeDigits(entry.MidiSelect.Program[c] + (isCapital(style) ? 1 : 0));
    } else if (mode == 'p') {
        caption =
            PresetView == 1 ? (entry.FXPbank.empty() ? "no banks (fxp)" : "Banks of Presets (fxp)") : fxpPresets();
    } else if (PresetView == 1 && mode == 'x') {
        caption = fxpPresets();
    } else if (PresetView == 1) {
        caption = entry.FXBfile.empty() ? "no banks (fxb)" : "Banks of Presets (fxb)";
    } else {
        caption = entry.FXBfile.empty() ? "Presets" : fxbName() + ".Presets";
    }
}

void PresetList::RefreshPresetDisplay(int slot) {
    if (slot < 0 || slot >= rack.numSlots()) return;
    TVstPlugIn& entry = rack.slot(slot);
    if (entry.PlugLoaded.load() && entry.Active.load()) {
        entry.CurProgramName = entry.GetProgramName();
        entry.GetProgram();
        if (entry.ProgramMode() != 'p') entry.NumPrograms = entry.effectNumPrograms();
    }
    env.rowChanged(slot);
    if (slot == env.selectedSlot()) {
        FillPresetList(slot);
        updateMenu(slot);
    }
}

void PresetList::updateMenu(int slot) {
    const TVstPlugIn& entry = rack.slot(slot);
    const bool loaded = entry.PlugLoaded.load();
    const bool fxp = loaded && (entry.UseFxpFxb & 1) != 0;
    const bool fxb = loaded && (entry.UseFxpFxb & 2) != 0;
    menu.loadPreset = menu.savePreset = menu.savePresetPrms = fxp;
    menu.openBank = menu.saveBank = menu.saveBankPrms = fxb;
    menu.renamePreset = loaded && entry.NumPrograms >= 1;
    const char mode = entry.ProgramMode();
    menu.listMenu = loaded && PresetView == 0 && (mode == 's' || mode == 'p');
    menu.listMoveAndExport = menu.listMenu && mode == 's';
}

void PresetList::cyclePresetView() {
    const int slot = env.selectedSlot();
    const bool bankStyles =
        slot >= 0 && slot < rack.numSlots() && rack.slot(slot).ProgramMode() == 'm' &&
        (capitalOf(rack.slot(slot).MidiBankStyle()) == 'B' || capitalOf(rack.slot(slot).MidiBankStyle()) == 'R');
    PresetView = PresetView == 0 ? 1 : (PresetView == 1 && bankStyles ? 2 : 0);
    displayChanged = true;
    RefreshPresetDisplay(slot);
}

void PresetList::setProgramMode(int slot, char mode) {
    if (slot < 0 || slot >= rack.numSlots()) return;
    TVstPlugIn& entry = rack.slot(slot);
    if (entry.ProgramMode() == mode) return;
    entry.setProgramMode(mode);
    displayChanged = true;
    RefreshPresetDisplay(slot);
}

// ---- Keys ----

namespace {

/// Up to three comma-separated numbers, each limited to 0..127; empty fields are skipped.
void readSelection(const std::string& text, std::uint8_t& msb, std::uint8_t& lsb, std::uint8_t& program) {
    std::uint8_t* fields[3] = {&msb, &lsb, &program};
    std::size_t start = 0;
    for (int f = 0; f < 3 && start <= text.size(); ++f) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::int32_t value = 0;
        if (persist::parseWholeNumber(persist::trimmed(std::string_view(text).substr(start, comma - start)), value))
            *fields[f] = static_cast<std::uint8_t>(std::clamp(value, 0, 127));
        start = comma + 1;
    }
}

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

} // namespace

void readMidiProgramKeys(persist::IniHandle& handle, const std::string& prefix, TVstPlugIn& slot, bool isProfile) {
    const std::string list = persist::IniStr(handle, prefix + "MidiPgms", "");
    if (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::int32_t count = 0, channel = 0;
        if (isProfile && persist::parseWholeNumber(persist::trimmed(std::string_view(list).substr(0, comma)), count))
            PresetList::setMidiChannelCount(slot, count);
        if (comma != std::string::npos &&
            persist::parseWholeNumber(persist::trimmed(std::string_view(list).substr(comma + 1)), channel))
            slot.MidiSelect.Channel = std::clamp(channel, 0, 15);
    }
    rack::MidiSelectState& select = slot.MidiSelect;
    const std::string single = persist::IniStr(handle, prefix + "MidiPgm", "");
    if (!single.empty()) readSelection(single, select.BankMsb[0], select.BankLsb[0], select.Program[0]);
    for (std::size_t c = 0; c < 16; ++c) {
        const std::string entry = persist::IniStr(handle, prefix + "MidiPgm-" + twoDigits(static_cast<int>(c)), "");
        if (entry.empty()) continue;
        readSelection(entry, select.BankMsb[c], select.BankLsb[c], select.Program[c]);
        slot.MidiChannelUsed[c] = true;
    }
}

void writeMidiProgramKeys(persist::IniHandle& handle, const std::string& prefix, const TVstPlugIn& slot) {
    if (slot.MidiChannelCount < 1) return;
    persist::IniStr(handle, prefix + "MidiPgms",
                    std::to_string(slot.MidiChannelCount) + "," + std::to_string(slot.MidiSelect.Channel));
    for (int c = 0; c < slot.MidiChannelCount && c < 16; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!slot.MidiChannelUsed[i]) continue;
        persist::IniStr(handle, prefix + "MidiPgm-" + twoDigits(c),
                        std::to_string(slot.MidiSelect.BankMsb[i]) + "," + std::to_string(slot.MidiSelect.BankLsb[i]) +
                            "," + std::to_string(slot.MidiSelect.Program[i]));
    }
}

} // namespace trelvo::presets
