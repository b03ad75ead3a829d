#include "session/MenuState.h"

#include "session/RackController.h"

namespace trelvo::rack {

namespace {

/// Whether deleteSlot would take the slot at index away (given a matching kind).
bool deletable(Rack& rack, int index) {
    const int n = rack.numSlots();
    return n >= 2 && index >= 2 && index <= n - 1;
}

/// Whether moveUp would change the rack: the same refusals, in the same order.
bool movesUp(Rack& rack, int s) {
    const int n = rack.numSlots();
    if (n < 1 || s < 1 || s >= n || rack.slot(s).isFree()) return false;
    const host::TVstPlugIn& slot = rack.slot(s);
    const SlotKind kind = slot.kind();
    if (kind == SlotKind::Plugin || kind == SlotKind::Midi) return s >= 2;
    if (kind == SlotKind::Input || !slot.IsMixer) return false;
    for (int p = s - 1; p >= 0; --p)
        if (rack.slot(p).IsMixer) return true;
    return false;
}

bool movesDown(Rack& rack, int s) {
    const int n = rack.numSlots();
    if (n < 1 || s < 1 || s >= n - 1 || rack.slot(s).isFree()) return false;
    const host::TVstPlugIn& slot = rack.slot(s);
    const SlotKind kind = slot.kind();
    if (kind == SlotKind::Plugin || kind == SlotKind::Midi) return true;
    if (!slot.IsMixer) return false; // an input slot stays where it is
    for (int q = s + 1; q < n; ++q)
        if (rack.slot(q).IsMixer) return true;
    return false;
}

} // namespace

MenuState menuStateOf(RackController& controller) {
    Rack& rack = controller.rack();
    MenuState state;
    state.addSlot = rack.findFreeSlot() >= 0;
    state.addPage = static_cast<int>(controller.pages.names.size()) < PageTabs::kMaxAddedPages;
    state.deletePage = controller.pages.names.size() >= 2;

    const int s = controller.selected;
    if (s < 0 || s >= rack.numSlots() || rack.slot(s).isFree()) return state;
    const host::TVstPlugIn& slot = rack.slot(s);
    const SlotKind kind = slot.kind();
    const bool mayGo = deletable(rack, s);
    state.deleteMixer = mayGo && (kind == SlotKind::Channel || kind == SlotKind::Group);
    state.deletePlugIn = mayGo && (kind == SlotKind::Plugin || kind == SlotKind::Midi);
    state.replacePlugIn = kind == SlotKind::Plugin;
    state.properties = kind == SlotKind::Plugin || kind == SlotKind::Midi;
    state.closePlugIn = mayGo && kind == SlotKind::Plugin;
    state.plugInOpen = kind == SlotKind::Plugin && slot.PlugLoaded.load() && slot.Active.load();
    state.moveUp = movesUp(rack, s);
    state.moveDown = movesDown(rack, s);
    state.switches = true;
    state.muteSolo = slot.IsMixer;
    state.rename = true;

    state.showEditor = state.plugInOpen && slot.hasEditor();
    if (!state.plugInOpen) return state;
    // The preset list keeps its menu state for the slot it last refreshed.
    const presets::PresetMenuState& menu = controller.presets().menu;
    state.previousNext = true;
    state.loadPreset = menu.loadPreset;
    state.savePreset = menu.savePreset;
    state.savePresetPrms = menu.savePresetPrms;
    state.openBank = menu.openBank;
    state.saveBank = menu.saveBank;
    state.saveBankPrms = menu.saveBankPrms;
    state.renamePreset = menu.renamePreset;
    const char mode = slot.ProgramMode();
    state.exportPresets = mode == 's' || mode == 'x';
    state.listMenu = menu.listMenu;
    state.listMoveAndExport = menu.listMoveAndExport;
    state.generateIns = slot.MidiBankStyle() == ' ';
    return state;
}

} // namespace trelvo::rack
