#include "rack/Rack.h"

#include "diag/DiagLog.h"

namespace trelvo::rack {

using host::TVstPlugIn;

Rack::Rack() : hostObject(std::make_unique<host::TVstHost>()), transportControl(hostObject->TimeInfo) {
    for (int i = 0; i < kMaxSlots; ++i) {
        slotObjects[static_cast<std::size_t>(i)] = std::make_unique<TVstPlugIn>(*hostObject, i);
        hostObject->slotTable[static_cast<std::size_t>(i)] = slotObjects[static_cast<std::size_t>(i)].get();
    }
}

Rack::~Rack() {
    for (auto& object : slotObjects)
        if (object->Active.load()) object->SetActive(false);
    for (auto& object : slotObjects) object.reset();
    hostObject.reset();
}

int Rack::findFreeSlot() const noexcept {
    if (numSlots() >= kMaxSlots) return -1;
    for (int i = 0; i < kMaxSlots; ++i)
        if (slot(i).isFree()) return i;
    return -1;
}

int Rack::countOfKind(SlotKind kind) const noexcept {
    int count = 0;
    for (int i = 0; i < numSlots(); ++i)
        if (slot(i).kind() == kind) ++count;
    return count;
}

int Rack::addSlot(SlotKind kind) {
    if (kind == SlotKind::Plugin || kind == SlotKind::Free) return -1;
    const int index = findFreeSlot();
    if (index < 0) return -1;
    const int existing = countOfKind(kind);
    if (existing >= kindLimit(kind)) return -1;

    TVstPlugIn& entry = slot(index);
    entry.Kind = kind;
    entry.IsMixer = isMixerKind(kind);
    switch (kind) {
    case SlotKind::Channel:
        entry.SlotName = "Channel " + std::to_string(existing + 1);
        entry.OwnerIndex = 0;
        break;
    case SlotKind::Group:
        entry.SlotName = "Group " + std::to_string(existing + 1);
        entry.OwnerIndex = 0;
        break;
    case SlotKind::Input: entry.SlotName = "Input " + std::to_string(existing + 1); break;
    case SlotKind::Midi: entry.SlotName = "MIDI " + std::to_string(existing + 1); break;
    case SlotKind::Output:
        entry.SlotName = existing == 0 ? "Master" : "Output " + std::to_string(existing + 1);
        entry.OwnerIndex = -1;
        break;
    default: break;
    }
    setNumSlots(numSlots() + 1);
    assignIdentity(index, 0);
    entry.setFreshVolumes();
    entry.EditorOpen = false;
    entry.EditorShown = false;
    recountKinds();
    return index;
}

void Rack::assignIdentity(int index, int requested) {
    TVstPlugIn& entry = slot(index);
    if (requested == -1) {
        entry.SlotID = 0;
    } else if (requested >= 5000) {
        entry.SlotID = requested;
        if (requested > slotIdCounter) slotIdCounter = requested;
    } else {
        entry.SlotID = ++slotIdCounter;
    }
}

void Rack::clearSlot(int index) {
    TVstPlugIn& entry = slot(index);
    if (entry.kind() == SlotKind::Plugin && entry.PlugLoaded.load()) {
        if (entry.EditorOpen.load()) entry.EditClose();
        entry.Close();
        if (diag::theLog().switches.writeLog.load()) diag::hookedLog("Close Slot");
        entry.Unload();
    }
    entry.clearRackFields();
    entry.DllPath.clear();
    entry.EffectName.clear();
    entry.UniqueIdText.clear();
    entry.CurProgramText.clear();
    entry.CurProgramName.clear();
    entry.PresetFileName.clear();
    entry.InputPinNames.clear();
    entry.OutputPinNames.clear();
    entry.FXBfolder.clear();
    entry.FXBfile.clear();
    entry.FXPfolder.clear();
    entry.FXPbank.clear();
    entry.ProjectStateFile.clear();
    entry.ProjectStateProgram = -1;
    entry.EditorLeft = entry.EditorTop = entry.EditorTab = entry.EditorStack = 0;
    entry.EditorKeyRead = false;
    entry.DllTemplate.clear();
    entry.MidiIns.clear();
    entry.PcKeys = entry.PcMouseWheel = "pre";
    entry.CanResize = true;
    entry.MouseOffFocusX = entry.MouseOffFocusY = entry.MouseOnFocusX = entry.MouseOnFocusY = 0;
    entry.HelpFile.clear();
    entry.UsePrmMap = entry.UsePrjMap = false;
    entry.ParamMap.clear();
    entry.ParamMapReverse.clear();
    entry.midi->routes = midi::RouteBlock{};
    entry.midi->chgFxpOnMidiPc = false;
    entry.midi->outputPortName.clear();
    entry.midi->outputPort = -1;
    entry.EditorOpen = false;
    entry.EditorShown = false;
    entry.Quarantined = false;
    entry.AltUniqueIds.fill(0);
}

bool Rack::exchangeSlots(int i, int j) noexcept {
    if (i < 0 || j > numSlots() - 1 || j < 0 || i > kMaxSlots - 1) return false;
    auto& table = hostObject->slotTable;
    std::swap(table[static_cast<std::size_t>(i)], table[static_cast<std::size_t>(j)]);
    table[static_cast<std::size_t>(i)]->SlotIdx = i;
    table[static_cast<std::size_t>(j)]->SlotIdx = j;
    return true;
}

void Rack::recountKinds() noexcept {
    int perKind[128] = {};
    int positionInStrip = 0;
    for (int i = 0; i < numSlots(); ++i) {
        TVstPlugIn& entry = slot(i);
        const auto code = static_cast<unsigned char>(entry.kind()) & 0x7F;
        if (entry.IsMixer) {
            entry.KindNo = perKind[code]++;
            positionInStrip = 0;
        } else if (entry.kind() == SlotKind::Plugin) {
            entry.KindNo = positionInStrip++;
        } else {
            entry.KindNo = perKind[code]++;
            ++positionInStrip;
        }
    }
}

int Rack::kindLookup(SlotKind kind, int kindNo) const noexcept {
    for (int i = 0; i < numSlots(); ++i) {
        const TVstPlugIn& entry = slot(i);
        if (entry.kind() != kind || entry.KindNo != kindNo) continue;
        if (kind == SlotKind::Plugin && !entry.PlugLoaded.load()) continue;
        return i;
    }
    return -1;
}

int Rack::stripHeadOf(int index) const noexcept {
    for (int i = index; i >= 0; --i)
        if (slot(i).IsMixer) return i;
    return -1;
}

bool Rack::enqueue(SlotCommandCode code, int slotIndex, int value, std::string_view text, int argument) {
    const auto readSwitch = [](const void* context, int index, SlotCommandCode command) {
        const auto* rack = static_cast<const Rack*>(context);
        if (index < 0 || index >= kMaxSlots) return false;
        const RunMode& mode = rack->slot(index).runMode;
        switch (command) {
        case SlotCommandCode::Bypass: return mode.isSet(RunMode::Bypass);
        case SlotCommandCode::Mute: return mode.isSet(RunMode::Mute);
        case SlotCommandCode::Solo: return mode.isSet(RunMode::Solo);
        case SlotCommandCode::Off: return mode.isSet(RunMode::Off);
        default: return false;
        }
    };
    return commandQueue.Enqueue(code, slotIndex, argument, text, value, readSwitch, this);
}

} // namespace trelvo::rack
