#pragma once

#include <string>
#include <vector>

namespace trelvo::rack {

class Rack;

/// What a page change does to the editor windows.
struct PageChange {
    std::vector<int> closeSlots; ///< slots whose editor windows close
    /// Slots whose editors are shown, in the order to show them: the last one ends in front.
    std::vector<int> showSlots;
    int frontSlot = -1; ///< the slot to select afterwards; -1 when the page has no editor
};

/// The page tabs that group the plug-in editor windows: names and the current page. The
/// user adds pages up to kMaxAddedPages; a project may bring one more. Thread: user interface.
class PageTabs {
public:
    static constexpr int kMaxAddedPages = 8;

    std::vector<std::string> names{"Page 1"};
    int current = 0;

    /// Adds "Page " + the new count while fewer than kMaxAddedPages exist.
    bool add();
    /// Deletes the current page while at least two exist. With a rack, the editors stay on
    /// their pages: those of later pages move down a number, those of the deleted page go to
    /// the page that becomes current.
    bool remove(Rack* rack = nullptr);
    /// Renames the current page; an empty name is refused.
    bool rename(const std::string& name);
    /// The next and previous page, wrapping around at both ends; the new current page.
    int next();
    int previous();

    /// A change to page: stores the stacking order of the open editors (slots front
    /// first) into their slots' EditorStack and logs it ("eTbSq:3=1,5=2"), then collects
    /// the editors of the page (EditorShown, EditorTab == page, plug-in loaded) by their
    /// stacking number, those without one behind them, logs them ("nTbSq:5=1,7=?") and
    /// says which editors close and which are shown. current becomes page. A page that
    /// does not exist changes nothing.
    PageChange change(Rack& rack, int page, const std::vector<int>& openEditorsFrontFirst);
};

} // namespace trelvo::rack
