// The properties dialog's data and rules: the private copy of a slot's routes and
// settings, or of the virtual ports, the operations of its menus, the checks before OK,
// and writing it all back.

#include "session/PropertiesEditor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"
#include "presets/PresetList.h"
#include "project/PluginProfile.h"
#include "session/RackController.h"

namespace trelvo::rack {

namespace {

constexpr const char* kPcWords[] = {"off", "pre", "post"};
constexpr char kFileModes[] = {'s', 'p', 'x'};
constexpr char kDisplayModes[] = {'s', 'p', 'x', 'm'};
constexpr char kBankStyles[] = {' ', 'p', 'l', 'm', 'b', 'r'};

template <std::size_t N> int positionOf(const char (&letters)[N], char letter) {
    for (std::size_t i = 0; i < N; ++i)
        if (letters[i] == letter) return static_cast<int>(i);
    return -1;
}

int pcChoice(const std::string& word) {
    for (int i = 0; i < 3; ++i)
        if (persist::sameName(word, kPcWords[i])) return i;
    return 1;
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() && persist::sameName(std::string_view(text).substr(0, prefix.size()), prefix);
}

std::string braced(const std::string& name) {
    return "{" + name + "}";
}

/// The name inside a choice: "{alias}" and "SlotID-5001 (Piano)" stand for "alias" and
/// "SlotID-5001".
std::string nameOfEntry(const std::string& entry) {
    if (entry.size() >= 2 && entry.front() == '{' && entry.back() == '}') return entry.substr(1, entry.size() - 2);
    if (startsWith(entry, "SlotID-")) {
        const std::size_t blank = entry.find(" (");
        if (blank != std::string::npos) return entry.substr(0, blank);
    }
    return entry;
}

bool holdsControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

std::string yesNo(bool flag) {
    return flag ? "Y" : "N";
}

/// The routes that read a port, in order. A block left without one keeps one route
/// without a port, as a consumer loaded without routes has.
midi::RouteBlock withoutUnsetRoutes(const midi::RouteBlock& block) {
    midi::RouteBlock packed;
    packed.count = 0;
    for (int r = 0; r < block.count; ++r)
        if (!block.routes[static_cast<std::size_t>(r)].portName.empty())
            packed.routes[static_cast<std::size_t>(packed.count++)] = block.routes[static_cast<std::size_t>(r)];
    if (packed.count == 0) packed.count = 1;
    return packed;
}

/// The plug-in ids of a "," separated list; the first item that is none goes to bad.
std::vector<std::int32_t> vstIdsOf(const std::string& text, std::string* bad = nullptr) {
    std::vector<std::int32_t> ids;
    std::size_t cursor = 0;
    while (cursor <= text.size()) {
        const std::size_t comma = std::min(text.find(',', cursor), text.size());
        const std::string item(persist::trimmed(text.substr(cursor, comma - cursor)));
        cursor = comma + 1;
        if (item.empty()) continue;
        const std::int32_t id = project::parseVstId(item);
        if (id == 0 && bad != nullptr && bad->empty()) *bad = item;
        if (id != 0) ids.push_back(id);
    }
    return ids;
}

} // namespace

PropertiesEditor::PropertiesEditor(RackController& controller, int slot, Mode mode)
    : rack(controller), editMode(mode), slotIndex(slot) {
    const midi::MidiLayer& midi = rack.midi();
    ports = midi.virtualPorts();
    defaultPortName = midi.defaultPortName;
    for (auto& entry : ports)
        if (!entry.name.empty() && entry.routes.count < 1) {
            entry.routes.count = 1;
            entry.routes.routes[0] = midi::MidiRoute{};
        }
    if (slot < 0 || slot >= rack.rack().numSlots()) slotIndex = -1;
    if (slotIndex >= 0) {
        const host::TVstPlugIn& plugIn = rack.rack().slot(slotIndex);
        slotRoutes = plugIn.midi->routes;
        if (slotRoutes.count < 1) {
            slotRoutes.count = 1;
            slotRoutes.routes[0] = midi::MidiRoute{};
        }
        slotOutName = plugIn.midi->outputPortName;
        hasPlugin = plugIn.hasEffect();
        Details& d = details;
        d.pcKeys = pcChoice(plugIn.PcKeys);
        d.pcMouseWheel = pcChoice(plugIn.PcMouseWheel);
        d.presetDisplay = positionOf(kDisplayModes, plugIn.ProgramMode());
        d.chgPresetOnMidiPc = plugIn.midi->chgFxpOnMidiPc;
        d.fileMode = plugIn.presetMode.empty() ? 0 : positionOf(kFileModes, plugIn.presetMode[0]);
        const char style = plugIn.MidiBankStyle();
        d.midiMode = positionOf(kBankStyles, static_cast<char>(std::tolower(static_cast<unsigned char>(style))));
        d.programsFromOne = std::isupper(static_cast<unsigned char>(style)) != 0;
        d.midiChannels = std::clamp(plugIn.MidiChannelCount, 1, 16);
        d.useFxbFxp = std::clamp(plugIn.UseFxpFxb, 0, 3);
        d.vstIds = project::acceptedIdsText(plugIn);
        d.checkVstIds = !d.vstIds.empty();
        d.fxbFolder = plugIn.FXBfolder;
        d.fxbFile = plugIn.FXBfile;
        d.fxpFolder = plugIn.FXPfolder;
        d.fxpFile = plugIn.PresetFileName;
        d.fxpBank = plugIn.FXPbank;
        d.dllTemplate = plugIn.DllTemplate;
        d.isMidiVport = plugIn.isMidiVport;
        d.isMidiPlugin = plugIn.isMidiPlugin;
        initial = details;
        if (hasPlugin) buildInfo();
    }
    if (editMode == kVirtualPortMode) {
        portIndex = 0;
        if (ports[0].name.empty()) {
            // No port is named: the page "Default" edits entry 0 as the port "MAIN".
            ports[0].name = defaultPortName.empty() ? "MAIN" : defaultPortName;
            ports[0].routes.count = 1;
            ports[0].routes.routes[0] = midi::MidiRoute{};
        }
    }
}

// ---- Pages ----

std::string PropertiesEditor::pagesHeading() const {
    return editMode == kVirtualPortMode ? " Select Virtual Port:" : " Select: [F6]";
}

std::vector<std::string> PropertiesEditor::pages() const {
    std::vector<std::string> names;
    if (editMode == kSlotMode) {
        names.push_back("MIDI");
        if (hasPlugin) {
            names.push_back("Details");
            names.push_back("Info");
        }
        return names;
    }
    for (const auto& entry : ports)
        if (!entry.name.empty()) names.push_back(entry.name);
    if (names.empty()) names.push_back("Default");
    return names;
}

void PropertiesEditor::selectPort(int entry) {
    if (editMode != kVirtualPortMode || entry < 0 || entry >= midi::kVirtualPorts) return;
    if (ports[static_cast<std::size_t>(entry)].name.empty()) return;
    portIndex = entry;
    routeIndex = 0;
}

// ---- Routes ----

midi::RouteBlock& PropertiesEditor::routes() {
    return editMode == kVirtualPortMode ? ports[static_cast<std::size_t>(portIndex)].routes : slotRoutes;
}

const midi::RouteBlock& PropertiesEditor::routes() const {
    return editMode == kVirtualPortMode ? ports[static_cast<std::size_t>(portIndex)].routes : slotRoutes;
}

std::vector<std::string> PropertiesEditor::routeTabs() const {
    std::vector<std::string> tabs;
    for (int r = 0; r < routes().count; ++r) tabs.push_back("MIDI " + std::to_string(r + 1));
    return tabs;
}

void PropertiesEditor::selectRoute(int index) {
    if (index >= 0 && index < routes().count) routeIndex = index;
}

bool PropertiesEditor::addRoute(const std::string& portName) {
    midi::RouteBlock& block = routes();
    if (block.count >= 4) return false;
    midi::MidiRoute& added = block.routes[static_cast<std::size_t>(block.count)];
    added = midi::MidiRoute{};
    added.portName = nameOfEntry(portName);
    routeIndex = block.count++;
    return true;
}

bool PropertiesEditor::deleteRoute() {
    midi::RouteBlock& block = routes();
    if (block.count <= 1) return false;
    for (int r = routeIndex; r + 1 < block.count; ++r)
        block.routes[static_cast<std::size_t>(r)] = block.routes[static_cast<std::size_t>(r + 1)];
    block.routes[static_cast<std::size_t>(--block.count)] = midi::MidiRoute{};
    routeIndex = std::min(routeIndex, block.count - 1);
    return true;
}

void PropertiesEditor::nextRoute() {
    routeIndex = (routeIndex + 1) % routes().count;
}

void PropertiesEditor::previousRoute() {
    routeIndex = (routeIndex + routes().count - 1) % routes().count;
}

std::string PropertiesEditor::slotPortEntry(int tablePosition) const {
    const std::string name = rack.midi().portName(tablePosition);
    std::string slotName = "??";
    for (int i = 0; i < rack.rack().numSlots(); ++i) {
        const host::TVstPlugIn& slot = rack.rack().slot(i);
        if (slot.midi->slotPort.load() == tablePosition) slotName = slot.SlotName;
    }
    return name + " (" + slotName + ")";
}

std::vector<std::string> PropertiesEditor::inPortEntries() const {
    std::vector<std::string> entries;
    const midi::MidiLayer& midi = rack.midi();
    if (editMode == kSlotMode) {
        entries.push_back("DEFAULT");
        for (const auto& entry : midi.virtualPorts())
            if (!entry.name.empty()) entries.push_back(entry.name);
        const int first = midi.ports().numInputs + midi::kVirtualPorts;
        for (int p = first; p < first + midi::kSlotPorts; ++p)
            if (!midi.portName(p).empty()) entries.push_back(slotPortEntry(p));
        return entries;
    }
    entries = midi.inputAliases();
    for (const std::string& absent : midi.absentInputAliases()) entries.push_back(braced(absent));
    return entries;
}

std::string PropertiesEditor::inPortText() const {
    const std::string& name = route().portName;
    if (name.empty()) return inPortEntries().empty() ? kNoPortsAvailable : kNoPortsSelected;
    for (const std::string& entry : inPortEntries())
        if (persist::sameName(nameOfEntry(entry), name)) return entry;
    return name;
}

bool PropertiesEditor::inPortOnline() const {
    const std::string& name = route().portName;
    if (name.empty()) return true;
    if (editMode == kVirtualPortMode) {
        for (const std::string& alias : rack.midi().inputAliases())
            if (persist::sameName(alias, name)) return true;
        return false;
    }
    return rack.midi().resolvePort(name) >= 0;
}

void PropertiesEditor::setInPort(int position) {
    const std::vector<std::string> entries = inPortEntries();
    if (position < 0 || position >= static_cast<int>(entries.size())) return;
    route().portName = nameOfEntry(entries[static_cast<std::size_t>(position)]);
    route().portIndex = -1;
    std::string programName;
    if (slotIndex >= 0) programName = rack.rack().slot(slotIndex).CurProgramName;
    portNote =
        programName + " - " + entries[static_cast<std::size_t>(position)] + " . PortIdx=" + std::to_string(position);
}

std::vector<std::string> PropertiesEditor::outPortEntries() const {
    std::vector<std::string> entries{""};
    const midi::MidiLayer& midi = rack.midi();
    if (editMode == kSlotMode) {
        for (const auto& entry : midi.virtualPorts()) {
            if (entry.name.empty() || entry.outName.empty()) continue;
            const std::string text = entry.name + " (" + entry.outName + ")";
            entries.push_back(entry.outDevice >= 0 ? text : braced(text));
        }
        return entries;
    }
    for (const std::string& alias : midi.outputAliases()) entries.push_back(alias);
    for (const std::string& absent : midi.absentOutputAliases()) entries.push_back(braced(absent));
    return entries;
}

int PropertiesEditor::outPortPosition() const {
    const std::string& current =
        editMode == kSlotMode ? slotOutName : ports[static_cast<std::size_t>(portIndex)].outName;
    if (current.empty()) return 0;
    const std::vector<std::string> entries = outPortEntries();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        std::string name = nameOfEntry(entries[i]);
        if (editMode == kSlotMode) name = name.substr(0, name.find(" ("));
        if (persist::sameName(name, current)) return static_cast<int>(i);
    }
    return -1;
}

void PropertiesEditor::setOutPort(int position) {
    const std::vector<std::string> entries = outPortEntries();
    if (position < 0 || position >= static_cast<int>(entries.size())) return;
    std::string name = nameOfEntry(entries[static_cast<std::size_t>(position)]);
    if (editMode == kSlotMode) {
        slotOutName = name.substr(0, name.find(" ("));
        return;
    }
    ports[static_cast<std::size_t>(portIndex)].outName = name;
}

// ---- Channel rows ----

std::pair<int, int> PropertiesEditor::range(Column column) {
    switch (column) {
    case kInChannel:
    case kOutChannel: return {1, 16};
    case kTranspose: return {-60, 60};
    default: return {0, 127};
    }
}

int PropertiesEditor::value(int row, Column column) const {
    const auto k = static_cast<std::size_t>(std::clamp(row, 0, 15));
    const midi::MidiRoute& r = route();
    switch (column) {
    case kInChannel: return r.channelMap[k].inChannel + 1;
    case kOutChannel: return r.channelMap[k].outChannel + 1;
    case kNoteLo: return r.split[k].noteLo;
    case kNoteHi: return r.split[k].noteHi;
    case kVelLo: return r.split[k].velLo;
    case kVelHi: return r.split[k].velHi;
    case kTranspose: return r.transpose[k];
    default: return 0;
    }
}

bool PropertiesEditor::setValue(int row, Column column, int shown) {
    if (row < 0 || row > 15 || column < 0 || column >= kNumColumns) return false;
    const auto [lowest, highest] = range(column);
    if (shown < lowest || shown > highest) return false;
    const auto k = static_cast<std::size_t>(row);
    midi::MidiRoute& r = route();
    const auto byte = static_cast<std::uint8_t>(shown);
    switch (column) {
    case kInChannel: r.channelMap[k].inChannel = static_cast<std::uint8_t>(shown - 1); break;
    case kOutChannel: r.channelMap[k].outChannel = static_cast<std::uint8_t>(shown - 1); break;
    case kNoteLo: r.split[k].noteLo = byte; break;
    case kNoteHi: r.split[k].noteHi = byte; break;
    case kVelLo: r.split[k].velLo = byte; break;
    case kVelHi: r.split[k].velHi = byte; break;
    case kTranspose: r.transpose[k] = static_cast<std::int8_t>(shown); break;
    default: return false;
    }
    return true;
}

bool PropertiesEditor::rowEnabled(int row) const {
    return row >= 0 && row < 16 && route().channelMap[static_cast<std::size_t>(row)].enabled != 0;
}

void PropertiesEditor::setRowEnabled(int row, bool on) {
    if (row >= 0 && row < 16) route().channelMap[static_cast<std::size_t>(row)].enabled = on ? 1 : 0;
}

// ---- Message types and controllers ----

const std::array<const char*, midi::kNumMessageTypes>& PropertiesEditor::typeCaptions() {
    static const std::array<const char*, midi::kNumMessageTypes> captions{"No&te On",
                                                                          "Note Off",
                                                                          "Note AfterTouch",
                                                                          "Control Change (CC)",
                                                                          "Program Change",
                                                                          "Channel AfterTouch",
                                                                          "Pitch Bend",
                                                                          "&SysEx",
                                                                          "MTC Quarter Frame",
                                                                          "Song Position Pointer",
                                                                          "Song Select",
                                                                          "Tune Request",
                                                                          "&Clock",
                                                                          "Start",
                                                                          "Continue",
                                                                          "Stop",
                                                                          "Active Sensing",
                                                                          "System Reset"};
    return captions;
}

std::string PropertiesEditor::controllerCaption(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "CC - %02d", number);
    return text;
}

void PropertiesEditor::setType(int type, bool on) {
    if (type < 0 || type >= midi::kNumMessageTypes) return;
    route().typePass[static_cast<std::size_t>(type)] = on ? 1 : 0;
    if (type == midi::kControlChange) setAllControllers(on);
}

void PropertiesEditor::setController(int number, bool on) {
    if (number >= 0 && number < 128) route().ccPass[static_cast<std::size_t>(number)] = on ? 1 : 0;
}

void PropertiesEditor::setAllControllers(bool on) {
    route().ccPass.fill(on ? 1 : 0);
}

// ---- Virtual ports ----

std::string PropertiesEditor::nameProblem(const std::string& name, int except) const {
    if (name.empty()) return "A virtual port needs a name.";
    if (name.size() > 31) return "\"" + name + "\" is too long for a port name (31 characters at most).";
    if (holdsControlCharacters(name) || name.find_first_of("{}") != std::string::npos)
        return "\"" + name + "\": a port name cannot hold braces or control characters.";
    if (persist::sameName(name, "DEFAULT") || startsWith(name, "SlotID-") || startsWith(name, "no ports "))
        return "\"" + name + "\" is a name Trelvo keeps for itself.";
    for (int e = 0; e < midi::kVirtualPorts; ++e)
        if (e != except && persist::sameName(ports[static_cast<std::size_t>(e)].name, name))
            return "A virtual port \"" + name + "\" already exists.";
    for (const std::string& alias : rack.midi().inputAliases())
        if (persist::sameName(alias, name)) return "\"" + name + "\" is the name of a MIDI input.";
    if (midi::isSurfacePortName(name))
        for (int e = 0; e < midi::kVirtualPorts; ++e)
            if (e != except && midi::isSurfacePortName(ports[static_cast<std::size_t>(e)].name))
                return ports[static_cast<std::size_t>(e)].name + " already exists ...";
    return {};
}

std::string PropertiesEditor::addVirtualPort(const std::string& kind) {
    const bool surface = midi::isSurfacePortName(kind);
    if (surface)
        for (const auto& entry : ports)
            if (midi::isSurfacePortName(entry.name)) return entry.name + " already exists ...";
    int free = -1;
    for (int e = 0; e < midi::kVirtualPorts && free < 0; ++e)
        if (ports[static_cast<std::size_t>(e)].name.empty()) free = e;
    if (free < 0) return "too many Virtual Ports";
    std::string name = surface ? kind : "new";
    // Names stay unique, so that routes can tell the ports apart.
    for (int n = 2; !surface && !nameProblem(name, -1).empty(); ++n) name = "new" + std::to_string(n);
    auto& entry = ports[static_cast<std::size_t>(free)];
    entry = midi::MidiLayer::VirtualPort{};
    entry.name = name;
    entry.routes.count = 1;
    portIndex = free;
    routeIndex = 0;
    return {};
}

std::string PropertiesEditor::renameVirtualPort(const std::string& name) {
    const std::string wanted(persist::trimmed(name));
    auto& entry = ports[static_cast<std::size_t>(portIndex)];
    if (wanted == entry.name) return {};
    std::string why = nameProblem(wanted, portIndex);
    if (!why.empty()) return why;
    if (isDefaultPort() && midi::isSurfacePortName(wanted))
        return "\"" + entry.name + "\" is the default port: a control surface cannot take its place.";
    const std::string old = entry.name;
    entry.name = wanted;
    // Routes name the ports they read: every route that named the old name follows.
    for (auto& other : ports)
        for (int r = 0; r < other.routes.count; ++r)
            if (persist::sameName(other.routes.routes[static_cast<std::size_t>(r)].portName, old))
                other.routes.routes[static_cast<std::size_t>(r)].portName = wanted;
    if (persist::sameName(defaultPortName, old)) defaultPortName = wanted;
    renames.emplace_back(old, wanted);
    return {};
}

bool PropertiesEditor::isDefaultPort() const {
    return persist::sameName(ports[static_cast<std::size_t>(portIndex)].name, defaultPortName);
}

void PropertiesEditor::makeDefaultPort() {
    if (!midi::isSurfacePortName(ports[static_cast<std::size_t>(portIndex)].name))
        defaultPortName = ports[static_cast<std::size_t>(portIndex)].name;
}

std::string PropertiesEditor::deleteQuestion() const {
    return "Delete Virtual port: \"" + ports[static_cast<std::size_t>(portIndex)].name + "\"";
}

bool PropertiesEditor::deleteVirtualPort() {
    const auto named = std::count_if(ports.begin(), ports.end(), [](const auto& e) { return !e.name.empty(); });
    if (named <= 1) return false;
    const bool wasDefault = isDefaultPort();
    for (int e = portIndex; e + 1 < midi::kVirtualPorts; ++e)
        ports[static_cast<std::size_t>(e)] = ports[static_cast<std::size_t>(e + 1)];
    ports.back() = midi::MidiLayer::VirtualPort{};
    ports.back().routes.count = 0;
    while (portIndex > 0 && ports[static_cast<std::size_t>(portIndex)].name.empty()) --portIndex;
    routeIndex = 0;
    // "DEFAULT" routes must keep a port to read: the first port left that carries notes.
    if (wasDefault)
        for (const auto& entry : ports)
            if (!entry.name.empty() && !midi::isSurfacePortName(entry.name)) {
                defaultPortName = entry.name;
                break;
            }
    return true;
}

// ---- Details and Info ----

const std::vector<std::string>& PropertiesEditor::presetDisplayNames() {
    static const std::vector<std::string> names{"s.Std-FXB", "p.FXP-Banks", "x.Std-FXP", "m.MIDI"};
    return names;
}

const std::vector<std::string>& PropertiesEditor::midiModeNames() {
    static const std::vector<std::string> names{"Off",
                                                "P. PgmCh only",
                                                "L. BnkLSB + PgmCh",
                                                "M. BnkMSB + PgmCh",
                                                "B. BnkMSB + BnkLSB + PgmCh",
                                                "R. BnkLSB + BnkMSB + PgmCh"};
    return names;
}

const std::vector<std::string>& PropertiesEditor::useFxbFxpNames() {
    static const std::vector<std::string> names{"None", "FXP", "FXB", "Both"};
    return names;
}

const std::vector<std::string>& PropertiesEditor::pcChoiceNames() {
    static const std::vector<std::string> names{"off", "pre", "post"};
    return names;
}

void PropertiesEditor::buildInfo() {
    host::TVstPlugIn& plugIn = rack.rack().slot(slotIndex);
    const auto add = [this](std::string line) { info.push_back(std::move(line)); };
    add(plugIn.isSynth() ? "VSTi (=synth) info" : "VST (=effect) info");
    add("product: " + plugIn.GetProductString());
    add("vendor: " + plugIn.GetVendorString());
    const std::int32_t id = plugIn.effectUniqueID();
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<std::uint32_t>(id));
    add("unique ID: " + project::vstIdText(id) + " == $" + hex);
    add("VST version: " + std::to_string(plugIn.GetVstVersion()));
    add("version: " + std::to_string(plugIn.effectVersion()));
    const std::filesystem::path library(plugIn.DllPath);
    add("DLL name: " + library.filename().string());
    add("DLL folder: " + library.parent_path().string());
    add("effect name: " + plugIn.GetEffectName());
    add("category: " + std::to_string(plugIn.GetPlugCategory()));
    add("programs: " + std::to_string(plugIn.effectNumPrograms()));
    add("parameters: " + std::to_string(plugIn.effectNumParams()));
    const int delay = plugIn.effectInitialDelay();
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.2f ms",
                  rack.control().samplesPerMs > 0.0f ? delay / rack.control().samplesPerMs : 0.0);
    add("delay: " + std::to_string(delay) + " samples (" + ms + ")");
    add("tail size: " + std::to_string(plugIn.GetTailSize()));
    add(" VST inputs");
    for (const std::string& pin : plugIn.InputPinNames) add("  " + pin);
    add(" VST outputs");
    for (const std::string& pin : plugIn.OutputPinNames) add("  " + pin);
    const auto answer = [&plugIn](const char* canDo) {
        const VstIntPtr result = plugIn.CanDo(canDo);
        return std::string(1, result == 1 ? 'Y' : (result == 0 ? '0' : 'N'));
    };
    add("candos:");
    add("  " + answer("receiveVstMidiEvent") + " >> MIDIevents >> " + answer("sendVstMidiEvent"));
    add("  " + answer("receiveVstEvents") + " >> VSTevents >> " + answer("sendVstEvents"));
    add("  " + answer("receiveVstTimeInfo") + " >> VST TimeInfo >> " + answer("sendVstTimeInfo"));
    add("  SoftBypass=" + answer("bypass"));
    add("  OffLine=" + answer("offline"));
    add("  *conformWindowRules=" + answer("conformsToWindowRules"));
    add("  midiProgramNames=" + answer("midiProgramNames"));
    const VstInt32 flags = plugIn.effectFlags();
    add("flags:");
    add("  hasEditor=" + yesNo((flags & effFlagsHasEditor) != 0));
    add(" *hasClip=" + yesNo((flags & (1 << 1)) != 0));
    add(" *hasVu=" + yesNo((flags & (1 << 2)) != 0));
    add(" *canMono=" + yesNo((flags & (1 << 3)) != 0));
    add("  canReplacing=" + yesNo((flags & effFlagsCanReplacing) != 0));
    add("  ProgramChunks=" + yesNo((flags & effFlagsProgramChunks) != 0));
    add("  NoSoundInStop=" + yesNo((flags & effFlagsNoSoundInStop) != 0));
    add("*=Deprecated in VST2.4");
}

// ---- OK ----

std::string PropertiesEditor::problemInRoutes(const midi::RouteBlock& block, const std::string& owner) const {
    for (int r = 0; r < block.count; ++r) {
        const midi::MidiRoute& route = block.routes[static_cast<std::size_t>(r)];
        if (route.portName.empty()) continue;
        for (std::size_t k = 0; k < 16; ++k) {
            if (!route.channelMap[k].enabled) continue;
            const std::string where = owner + "MIDI " + std::to_string(r + 1) + ", row " + std::to_string(k + 1) + ": ";
            const auto& window = route.split[k];
            if (window.noteLo > window.noteHi)
                return where + "the lowest note (" + std::to_string(window.noteLo) + ") is above the highest (" +
                       std::to_string(window.noteHi) + "), so no note would pass.";
            if (window.velLo > window.velHi)
                return where + "the lowest velocity (" + std::to_string(window.velLo) + ") is above the highest (" +
                       std::to_string(window.velHi) + "), so no note would pass.";
        }
    }
    return {};
}

std::string PropertiesEditor::problem() const {
    if (editMode == kVirtualPortMode) {
        for (const auto& entry : ports) {
            if (entry.name.empty()) continue;
            std::string why = problemInRoutes(entry.routes, entry.name + ", ");
            if (!why.empty()) return why;
        }
        return {};
    }
    if (slotIndex < 0) return "The slot no longer exists.";
    std::string why = problemInRoutes(slotRoutes, "");
    if (!why.empty()) return why;
    const Details& d = details;
    const std::pair<const char*, const std::string*> texts[] = {
        {"FXBfolder", &d.fxbFolder}, {"FXBfile", &d.fxbFile}, {"FXPfolder", &d.fxpFolder},
        {"FXPfile", &d.fxpFile},     {"FXPbnk", &d.fxpBank},  {"DLLtemplate", &d.dllTemplate},
        {"check VstID", &d.vstIds}};
    for (const auto& [field, text] : texts)
        if (holdsControlCharacters(*text)) return std::string(field) + ": the text cannot hold line breaks.";
    std::error_code error;
    // Only what the user changed here: a project from another machine may name folders
    // that are not on this one, and its routes must still be editable.
    for (const auto& [field, folder, before] : {std::tuple{"FXBfolder", &d.fxbFolder, &initial.fxbFolder},
                                                std::tuple{"FXPfolder", &d.fxpFolder, &initial.fxpFolder}})
        if (hasPlugin && *folder != *before && !folder->empty() && !std::filesystem::is_directory(*folder, error))
            return std::string(field) + ": the folder \"" + *folder + "\" does not exist.";
    if (hasPlugin && !d.dllTemplate.empty() && d.dllTemplate != initial.dllTemplate &&
        !std::filesystem::is_regular_file(d.dllTemplate, error))
        return "DLLtemplate: the file \"" + d.dllTemplate + "\" does not exist.";
    if (d.checkVstIds) {
        std::string bad;
        const std::size_t count = vstIdsOf(d.vstIds, &bad).size();
        if (!bad.empty())
            return "check VstID: \"" + bad +
                   "\" is not a plug-in id (four characters, or $ and eight hexadecimal digits).";
        if (count > 10) return "check VstID: at most 10 further plug-in ids.";
    }
    if (d.midiChannels < 1 || d.midiChannels > 16) return "MIDIchannels: 1 to 16.";
    return {};
}

bool PropertiesEditor::apply() {
    const std::string why = problem();
    if (!why.empty()) {
        diag::hookedLogError("Properties: " + why);
        return false;
    }
    if (editMode == kVirtualPortMode)
        applyVirtualPorts();
    else
        applySlot();
    return true;
}

void PropertiesEditor::applySlot() {
    host::TVstPlugIn& slot = rack.rack().slot(slotIndex);
    midi::MidiLayer& midi = rack.midi();
    const Details& d = details;
    std::string mode = slot.presetMode;
    mode.resize(3, ' ');
    if (d.fileMode >= 0) mode[0] = kFileModes[d.fileMode];
    if (d.midiMode >= 0) {
        const char style = kBankStyles[std::min(d.midiMode, 5)];
        mode[1] = d.programsFromOne ? static_cast<char>(std::toupper(static_cast<unsigned char>(style))) : style;
    }
    if (d.presetDisplay >= 0) mode[2] = kDisplayModes[std::min(d.presetDisplay, 3)];
    const bool modeChanged = mode != slot.presetMode;

    rack.control().setAllowed(audio::kAllowedPause);
    slot.midi->routes = withoutUnsetRoutes(slotRoutes);
    slot.midi->outputPortName = slotOutName;
    slot.midi->chgFxpOnMidiPc = d.chgPresetOnMidiPc;
    const bool portsChanged = slot.isMidiVport != d.isMidiVport;
    slot.isMidiVport = d.isMidiVport;
    slot.isMidiPlugin = d.isMidiPlugin;
    if (hasPlugin) {
        slot.DllTemplate = d.dllTemplate;
        slot.PcKeys = kPcWords[std::clamp(d.pcKeys, 0, 2)];
        slot.PcMouseWheel = kPcWords[std::clamp(d.pcMouseWheel, 0, 2)];
        if (modeChanged) {
            // The program mode itself changes through the preset list, which shows it.
            slot.presetMode.resize(3, ' ');
            slot.presetMode[0] = mode[0];
            slot.presetMode[1] = mode[1];
        }
        if (d.midiChannels != initial.midiChannels) presets::PresetList::setMidiChannelCount(slot, d.midiChannels);
        slot.UseFxpFxb = d.useFxbFxp;
        slot.AltUniqueIds.fill(0);
        std::size_t filled = 0;
        for (const std::int32_t id : d.checkVstIds ? vstIdsOf(d.vstIds) : std::vector<std::int32_t>{})
            if (id != slot.effectUniqueID() && filled < slot.AltUniqueIds.size()) slot.AltUniqueIds[filled++] = id;
        slot.FXBfolder = d.fxbFolder;
        slot.FXBfile = d.fxbFile;
        slot.FXPfolder = d.fxpFolder;
        slot.PresetFileName = d.fxpFile;
        slot.FXPbank = d.fxpBank;
    }
    if (portsChanged) midi.assignSlotPorts();
    midi.resolveSlotOutputs();
    midi.resolveSlotRoutes();
    rack.control().setAllowed(audio::kAllowedResume);
    if (modeChanged) rack.presets().setProgramMode(slotIndex, mode[2]);
    rack.rebuildRows();
}

void PropertiesEditor::applyVirtualPorts() {
    midi::MidiLayer& midi = rack.midi();
    rack.control().setAllowed(audio::kAllowedPause);
    for (auto& entry : ports)
        if (!entry.name.empty()) entry.routes = withoutUnsetRoutes(entry.routes);
    midi.virtualPorts() = ports;
    // The slots follow a renamed port: their routes and their "oMid1-Port".
    for (const auto& [old, now] : renames)
        for (int i = 0; i < rack.rack().numSlots(); ++i) {
            midi::SlotMidi& slot = *rack.rack().slot(i).midi;
            for (int r = 0; r < slot.routes.count; ++r)
                if (persist::sameName(slot.routes.routes[static_cast<std::size_t>(r)].portName, old))
                    slot.routes.routes[static_cast<std::size_t>(r)].portName = now;
            if (persist::sameName(slot.outputPortName, old)) slot.outputPortName = now;
        }
    midi.defaultPortName = defaultPortName;
    rack.appSettings().defaultPort = defaultPortName;
    persist::IniHandle handle;
    midi.writeVirtualPorts(handle);
    persist::CloseIni(handle);
    // MIDI opens again on the ports as written (their names, routes, outputs and surfaces)
    // before a block may run with the new entries against the old port table; opening lets
    // audio go again.
    midi.setMIDI(midi::iClose | midi::iHalt);
    midi.setMIDI(midi::iOpen);
    rack.resolveSlotRoutes();
}

} // namespace trelvo::rack
