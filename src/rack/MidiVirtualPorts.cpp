// The MIDI layer's virtual ports and slot ports: reading and writing "vMIDIports", the
// default port, and the ports that plug-in slots send into.

#include <cstdio>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "midi/MidiRoute.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"

namespace trelvo::midi {

using diag::debugLine;

bool isSurfacePortName(const std::string& name) {
    return persist::sameName(name, "MCU") || persist::sameName(name, "LCU") || persist::sameName(name, "BCRU");
}

namespace {

std::string twoDigits(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

} // namespace

void MidiLayer::readVirtualPorts(persist::IniHandle& handle) {
    debugLine("openINI vMIDIports");
    for (VirtualPort& entry : vports) {
        entry = VirtualPort{};
        entry.routes.count = 0;
    }
    const bool sectionFound = persist::OpenIni(handle, env.settingsFile, "vMIDIports", persist::kIniRead);
    std::array<std::string, kVirtualPorts> prefixes;
    std::size_t filled = 0;
    for (int n = 1; n <= 25 && filled < vports.size(); ++n) {
        const std::string prefix = twoDigits(n) + "_";
        const std::string name(persist::trimmed(persist::IniStr(handle, prefix + "Name", "")));
        if (name.empty()) continue;
        prefixes[filled] = prefix;
        vports[filled++].name = name;
    }
    const auto resolver = [this](const std::string& port) { return resolvePort(port); };
    for (std::size_t e = 0; e < filled; ++e) {
        VirtualPort& entry = vports[e];
        readRoutes(handle, prefixes[e], entry.routes, resolver);
        entry.outName = persist::IniStr(handle, prefixes[e] + "oMid1-Port", "");
        entry.outDevice = resolveOutputAlias(entry.outName);
        if (!entry.outName.empty())
            debugLine("oMid1-Port=\"" + entry.outName + "\", oPortIdx=" + std::to_string(entry.outDevice));
    }
    if (filled == 0) {
        VirtualPort& main = vports[0];
        main.name = "MAIN";
        if (!sectionFound) {
            // A first start: the default port hears the first four inputs, everything on them,
            // but not a control surface's own input.
            for (int i = 0; i < table.numInputs && main.routes.count < 4; ++i) {
                const MidiPort& input = table.ports[static_cast<std::size_t>(i)];
                if (input.index < 0 || !input.buffer || input.name.find(":surface_in") != std::string::npos) continue;
                MidiRoute& route = main.routes.routes[static_cast<std::size_t>(main.routes.count++)];
                route = MidiRoute{};
                route.portName = input.name;
                route.portIndex = i;
                diag::hookedLog("MIDI: first start: \"MAIN\" takes input \"" + input.name + "\"");
            }
        }
        filled = 1;
    }
    bool surfaceFound = false;
    for (std::size_t e = 0; e < filled; ++e) {
        openPort(table.numInputs + static_cast<int>(e), vports[e].name);
        // One surface at a time: the first entry that names one.
        if (isSurfacePortName(vports[e].name) && !surfaceFound) {
            surfaceFound = true;
            surfaceState.setup(vports[e].name, static_cast<int>(e));
            debugLine("surface \"" + vports[e].name + "\" on virtual port " + std::to_string(e));
        }
    }
    if (!surfaceFound) surfaceState.forget();
    for (int i = 0; i < table.length; ++i) {
        const MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        if (port.index >= 0 && persist::sameName(port.name, defaultPortName)) {
            defaultPosition = i;
            break;
        }
    }
    debugLine("curMIDIvPortIdx=" + std::to_string(defaultPosition));
    resolveSlotOutputs();
    resolveSlotRoutes();
}

void MidiLayer::writeVirtualPorts(persist::IniHandle& handle) {
    persist::OpenIni(handle, env.settingsFile, "vMIDIports", persist::kIniClearKeys);
    persist::IniStr(handle, "DefaultPort", defaultPortName);
    int number = 0;
    for (const VirtualPort& entry : vports) {
        if (entry.name.empty()) continue;
        const std::string prefix = twoDigits(++number) + "_";
        persist::IniStr(handle, prefix + "Name", entry.name);
        writeRoutes(handle, prefix, entry.routes, true);
        persist::IniStr(handle, prefix + "oMid1-Port", entry.outName);
    }
}

void MidiLayer::releaseSlotPorts() {
    if (table.length == 0) return;
    const int first = table.numInputs + kVirtualPorts;
    for (int i = 0; i < rack::kMaxSlots; ++i) rack.slot(i).midi->slotPort = -1;
    for (int p = first; p < first + kSlotPorts; ++p)
        if (table.ports[static_cast<std::size_t>(p)].index >= 0) closePort(p);
}

void MidiLayer::useAsDefaultPort(int position) {
    if (position < 0 || position >= table.length || table.ports[static_cast<std::size_t>(position)].index < 0) return;
    defaultPosition = position;
    resolveSlotRoutes();
}

void MidiLayer::assignSlotPorts() {
    if (table.length == 0) return;
    releaseSlotPorts();
    const int first = table.numInputs + kVirtualPorts;
    int next = 0;
    for (int i = 0; i < rack.numSlots() && next < kSlotPorts; ++i) {
        host::TVstPlugIn& slot = rack.slot(i);
        if (!slot.isMidiVport) continue;
        const int position = first + next++;
        openPort(position, "SlotID-" + std::to_string(slot.SlotID));
        slot.midi->slotPort = position;
    }
    resolveSlotOutputs();
    resolveSlotRoutes();
}

namespace {

std::vector<std::string> aliasesOf(const std::vector<std::string>& deviceLines) {
    std::vector<std::string> aliases;
    for (const std::string& line : deviceLines) {
        const std::size_t split = line.find('=');
        if (split != std::string::npos && split + 1 < line.size()) aliases.push_back(line.substr(split + 1));
    }
    return aliases;
}

} // namespace

std::vector<std::string> MidiLayer::inputAliases() const {
    std::vector<std::string> aliases;
    for (int i = 0; i < table.numInputs; ++i) {
        const MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        if (port.index >= 0 && !port.name.empty()) aliases.push_back(port.name);
    }
    return aliases;
}

std::vector<std::string> MidiLayer::absentInputAliases() const {
    return aliasesOf(unmatchedInputs);
}

std::vector<std::string> MidiLayer::outputAliases() const {
    std::vector<std::string> aliases;
    for (int i = 0; i < numOutputs; ++i) {
        const MidiOutPort& port = outPorts[static_cast<std::size_t>(i)];
        if (port.deviceIndex >= 0 && !port.alias.empty()) aliases.push_back(port.alias);
    }
    return aliases;
}

std::vector<std::string> MidiLayer::absentOutputAliases() const {
    return aliasesOf(unmatchedOutputs);
}

std::string MidiLayer::portName(int position) const {
    if (position < 0 || position >= table.length) return {};
    const MidiPort& port = table.ports[static_cast<std::size_t>(position)];
    return port.index >= 0 ? port.name : std::string();
}

} // namespace trelvo::midi
