#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::rack {

/// The parameters of a slot's plug-in as the parameter list shows them, the keys that set
/// their values, the parameter map's rows and operations, and the parameter export. Values
/// are set with the plug-in's setParameter on the user-interface thread; nothing here takes
/// a lock. Thread: user interface.
class ParameterList {
public:
    static constexpr double kCoarseStep = 0.0787;
    static constexpr double kFineStep = 0.00787;
    static constexpr std::size_t kCaptionLength = 11;

    /// Float display (the raw value 0..1 with five decimals) instead of the plug-in's text.
    bool floatMode = false;
    /// A parameter was set from the list: the automation notice (slot index, parameter).
    std::function<void(int slot, int parameter)> changed = [](int, int) {};

    // ---- Rows ----
    /// The parameter a row shows, -1 for none: the row itself without the map, the map row's
    /// parameter with it.
    static int parameterOfRow(const host::TVstPlugIn& slot, int row);
    /// The row that shows a parameter, -1 for none.
    static int rowOfParameter(const host::TVstPlugIn& slot, int parameter);
    /// Rows shown: the map's rows while it is in use, else every parameter.
    static int rowCount(const host::TVstPlugIn& slot);
    /// Digits of the row numbers: 1 up to 10 rows, 2 up to 100, and so on.
    static int rowDigits(int rows);
    /// "07:Cutoff=440 Hz", with the map "1_07:Cut=440 Hz"; "3: - - -" for a row without a
    /// parameter.
    std::string line(host::TVstPlugIn& slot, int row) const;
    /// Every row's line; "-" alone for none.
    std::vector<std::string> lines(host::TVstPlugIn& slot) const;

    // ---- Values ----
    /// "," (direction -1) and "." (+1): a coarse or fine step, or to the limit, within 0..1.
    /// True when the value changed.
    bool step(host::TVstPlugIn& slot, int row, int direction, bool fine, bool toLimit);
    /// The text Enter offers for the row's value; none when the row has no parameter.
    std::optional<std::string> offeredValue(host::TVstPlugIn& slot, int row) const;
    /// The text typed for the row's value: the plug-in reads it in descriptive mode, a
    /// number 0..1 (beyond it: the limit) in float mode. True when the value was set.
    bool enterValue(host::TVstPlugIn& slot, int row, const std::string& text);

    // ---- The parameter map ----
    /// The slot has a map with at least one row naming a parameter.
    static bool hasMap(const host::TVstPlugIn& slot);
    /// Switches the map off (0), on (1) or over (2); switching on a slot without a map
    /// creates an empty one only when create is set. Returns whether the map is in use.
    static bool setUseMap(host::TVstPlugIn& slot, int mode, bool create);
    /// Rebuilds the parameter-to-row table after the map changed.
    static void rebuildReverse(host::TVstPlugIn& slot);
    /// The parameters no row shows, in index order.
    static std::vector<int> unmappedParameters(const host::TVstPlugIn& slot);
    /// ">>": a new row at the end for each parameter, in order.
    static void appendRows(host::TVstPlugIn& slot, const std::vector<int>& parameters);
    /// "<<": the rows go; later rows move up.
    static void removeRows(host::TVstPlugIn& slot, const std::vector<int>& rows);
    /// "&Up" (-1) and "&Dn" (+1): the first unbroken run of the selected rows moves one
    /// place; nothing moves at the end. Returns the rows selected afterwards.
    static std::vector<int> moveRows(host::TVstPlugIn& slot, const std::vector<int>& rows, int direction);
    /// The row's caption, or the plug-in's name of its parameter when it has none.
    static std::string rowName(host::TVstPlugIn& slot, int row);
    /// Stores the first 11 characters as the row's caption; the plug-in's own name clears it.
    static bool renameRow(host::TVstPlugIn& slot, int row, const std::string& name);

    // ---- Export ----
    /// "&Export parameters..." ("[Prms]") or "Export 1st preset..." ("1st Preset"): one line
    /// per parameter of the plug-in (none without one), lines ended by CR LF, written as
    /// every save is. False with the reason in error.
    static bool exportParameters(host::TVstPlugIn* slot, const std::string& path, bool firstPreset, std::string& error);
    /// The text exportParameters writes.
    static std::string exportText(host::TVstPlugIn* slot, bool firstPreset);
};

} // namespace trelvo::rack
