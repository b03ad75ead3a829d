#include "session/PageTabs.h"

#include <algorithm>

#include "diag/DiagLog.h"
#include "rack/Rack.h"

namespace trelvo::rack {

bool PageTabs::add() {
    if (static_cast<int>(names.size()) >= kMaxAddedPages) return false;
    names.push_back("Page " + std::to_string(names.size() + 1));
    return true;
}

bool PageTabs::remove(Rack* rack) {
    if (names.size() < 2 || current < 0 || current >= static_cast<int>(names.size())) return false;
    const int deleted = current;
    names.erase(names.begin() + deleted);
    current = std::min(deleted, static_cast<int>(names.size()) - 1);
    if (rack != nullptr)
        for (int i = 0; i < rack->numSlots(); ++i) {
            host::TVstPlugIn& slot = rack->slot(i);
            if (slot.EditorTab > deleted)
                --slot.EditorTab;
            else if (slot.EditorTab == deleted)
                slot.EditorTab = current;
        }
    return true;
}

bool PageTabs::rename(const std::string& name) {
    // A project keeps no empty caption: the page would be gone when it is read again.
    if (name.empty() || current < 0 || current >= static_cast<int>(names.size())) return false;
    names[static_cast<std::size_t>(current)] = name;
    return true;
}

int PageTabs::next() {
    const auto count = static_cast<int>(names.size());
    if (count > 0) current = current + 1 >= count || current < 0 ? 0 : current + 1;
    return current;
}

int PageTabs::previous() {
    const auto count = static_cast<int>(names.size());
    if (count > 0) current = current <= 0 || current >= count ? count - 1 : current - 1;
    return current;
}

PageChange PageTabs::change(Rack& rack, int page, const std::vector<int>& openEditorsFrontFirst) {
    PageChange result;
    if (page < 0 || page >= static_cast<int>(names.size())) return result;
    const int n = rack.numSlots();
    const auto used = [n](int slot) { return slot >= 0 && slot < n; };

    std::string line = "eTbSq:";
    int order = 0;
    for (const int slot : openEditorsFrontFirst) {
        if (!used(slot)) continue;
        rack.slot(slot).EditorStack = ++order;
        if (order > 1) line += ',';
        line += std::to_string(slot) + "=" + std::to_string(order);
    }
    diag::hookedLog(line);

    // The page's editors front first; those without a stacking number go behind them, in
    // rack order. An editor flag on a slot whose library did not load shows nothing.
    std::vector<int> collected;
    for (int slot = 0; slot < n; ++slot) {
        const host::TVstPlugIn& entry = rack.slot(slot);
        if (entry.EditorShown.load() && entry.EditorTab == page && entry.PlugLoaded.load()) collected.push_back(slot);
    }
    std::stable_sort(collected.begin(), collected.end(), [&rack](int a, int b) {
        const int stackA = rack.slot(a).EditorStack, stackB = rack.slot(b).EditorStack;
        if ((stackA <= 0) != (stackB <= 0)) return stackB <= 0;
        return stackA > 0 && stackA < stackB;
    });

    for (const int slot : openEditorsFrontFirst)
        if (used(slot) && std::find(collected.begin(), collected.end(), slot) == collected.end())
            result.closeSlots.push_back(slot);

    line = "nTbSq:";
    for (std::size_t i = 0; i < collected.size(); ++i) {
        const int stack = rack.slot(collected[i]).EditorStack;
        if (i > 0) line += ',';
        line += std::to_string(collected[i]) + "=" + (stack > 0 ? std::to_string(stack) : std::string("?"));
    }
    diag::hookedLog(line);

    result.showSlots.assign(collected.rbegin(), collected.rend());
    result.frontSlot = collected.empty() ? -1 : collected.front();
    current = page;
    return result;
}

} // namespace trelvo::rack
