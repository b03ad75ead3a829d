// The parameter list's lines and keys, the parameter map's operations and the parameter
// export.

#include "session/ParameterList.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "persist/IniFile.h"
#include "platform/TrelvoHome.h"

namespace trelvo::rack {

using host::TVstPlugIn;

namespace {

std::string padded(int number, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*d", digits, number);
    return text;
}

std::string fiveDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f", value);
    return text;
}

std::string trimmedText(const std::string& text) {
    return std::string(persist::trimmed(text));
}

int parameterCount(const TVstPlugIn& slot) {
    return std::max(slot.effectNumParams(), 0);
}

/// A text the plug-in writes into a buffer of 256 bytes whose first byte is zeroed first.
std::string dispatchedText(TVstPlugIn& slot, VstInt32 opcode, int index) {
    char buffer[256] = {};
    slot.Dispatch(opcode, index, 0, buffer, 0.0);
    buffer[sizeof buffer - 1] = '\0';
    return trimmedText(buffer);
}

} // namespace

// ---- Rows ----

int ParameterList::parameterOfRow(const TVstPlugIn& slot, int row) {
    const int parameters = parameterCount(slot);
    if (!slot.UsePrmMap) return row >= 0 && row < parameters ? row : -1;
    if (row < 0 || row >= static_cast<int>(slot.ParamMap.size())) return -1;
    const int parameter = slot.ParamMap[static_cast<std::size_t>(row)].index;
    return parameter >= 0 && parameter < parameters ? parameter : -1;
}

int ParameterList::rowOfParameter(const TVstPlugIn& slot, int parameter) {
    const int parameters = parameterCount(slot);
    if (parameter < 0 || parameter >= parameters) return -1;
    if (!slot.UsePrmMap) return parameter;
    if (parameter >= static_cast<int>(slot.ParamMapReverse.size())) return -1;
    const int row = slot.ParamMapReverse[static_cast<std::size_t>(parameter)];
    return row >= 0 && row < static_cast<int>(slot.ParamMap.size()) ? row : -1;
}

int ParameterList::rowCount(const TVstPlugIn& slot) {
    return slot.UsePrmMap ? static_cast<int>(slot.ParamMap.size()) : parameterCount(slot);
}

int ParameterList::rowDigits(int rows) {
    int digits = 1;
    for (int limit = 10; rows > limit && digits < 5; limit *= 10) ++digits;
    return digits;
}

std::string ParameterList::line(TVstPlugIn& slot, int row) const {
    const int parameter = parameterOfRow(slot, row);
    if (parameter < 0) return std::to_string(row) + ": - - -";
    const int digits = rowDigits(rowCount(slot));
    std::string text = padded(row, digits);
    std::string name;
    if (slot.UsePrmMap) {
        text += "_" + padded(parameter, digits);
        name = slot.ParamMap[static_cast<std::size_t>(row)].name;
    }
    if (name.empty()) name = trimmedText(slot.GetParamName(parameter));
    text += ":" + name + "=";
    if (floatMode)
        text += fiveDecimals(slot.GetParameter(parameter));
    else
        text += trimmedText(slot.GetParamDisplay(parameter)) + " " + trimmedText(slot.GetParamLabel(parameter));
    return text;
}

std::vector<std::string> ParameterList::lines(TVstPlugIn& slot) const {
    std::vector<std::string> all;
    const int rows = slot.hasEffect() ? rowCount(slot) : 0;
    all.reserve(static_cast<std::size_t>(std::max(rows, 1)));
    for (int row = 0; row < rows; ++row) all.push_back(line(slot, row));
    if (all.empty()) all.emplace_back("-");
    return all;
}

// ---- Values ----

bool ParameterList::step(TVstPlugIn& slot, int row, int direction, bool fine, bool toLimit) {
    const int parameter = parameterOfRow(slot, row);
    if (parameter < 0 || direction == 0) return false;
    const float value = slot.GetParameter(parameter);
    if (std::isnan(value)) return false;
    double wanted = 0.0;
    if (toLimit)
        wanted = direction > 0 ? 1.0 : 0.0;
    else
        wanted = value + direction * (fine ? kFineStep : kCoarseStep);
    const auto next = static_cast<float>(std::clamp(wanted, 0.0, 1.0));
    if (next == value) return false;
    if (!slot.SetParameter(parameter, next)) return false;
    changed(slot.SlotIdx, parameter);
    return true;
}

std::optional<std::string> ParameterList::offeredValue(TVstPlugIn& slot, int row) const {
    const int parameter = parameterOfRow(slot, row);
    if (parameter < 0) return std::nullopt;
    if (!floatMode) return trimmedText(slot.GetParamDisplay(parameter));
    const float value = slot.GetParameter(parameter);
    if (std::isnan(value)) return std::nullopt;
    return fiveDecimals(value);
}

bool ParameterList::enterValue(TVstPlugIn& slot, int row, const std::string& text) {
    const int parameter = parameterOfRow(slot, row);
    if (parameter < 0) return false;
    diag::debugLine(std::to_string(parameter) + " " + text);
    if (!floatMode) {
        if (slot.String2Parameter(parameter, text.c_str()) == 0) return false;
        changed(slot.SlotIdx, parameter);
        return true;
    }
    const float value = slot.GetParameter(parameter);
    const std::string number = trimmedText(text);
    char* end = nullptr;
    const double typed = std::strtod(number.c_str(), &end);
    if (number.empty() || end == nullptr || *end != '\0' || std::isnan(typed)) return false;
    // Values stay within 0..1: a number beyond them sets the limit.
    const auto next = static_cast<float>(std::clamp(typed, 0.0, 1.0));
    if (next == value) return true;
    if (!slot.SetParameter(parameter, next)) return false;
    changed(slot.SlotIdx, parameter);
    return true;
}

// ---- The parameter map ----

bool ParameterList::hasMap(const TVstPlugIn& slot) {
    return std::any_of(slot.ParamMap.begin(), slot.ParamMap.end(), [](const auto& entry) { return entry.index >= 0; });
}

bool ParameterList::setUseMap(TVstPlugIn& slot, int mode, bool create) {
    if (!slot.PlugLoaded.load() || !slot.hasEffect()) {
        slot.UsePrmMap = false;
        return false;
    }
    const bool wanted = mode == 2 ? !slot.UsePrmMap : mode == 1;
    if (wanted && slot.ParamMap.empty() && !create) {
        slot.UsePrmMap = false;
        return false;
    }
    slot.UsePrmMap = wanted;
    rebuildReverse(slot);
    return wanted;
}

void ParameterList::rebuildReverse(TVstPlugIn& slot) {
    const int parameters = parameterCount(slot);
    slot.ParamMapReverse.assign(static_cast<std::size_t>(parameters), -1);
    for (std::size_t row = 0; row < slot.ParamMap.size(); ++row) {
        const int parameter = slot.ParamMap[row].index;
        if (parameter >= 0 && parameter < parameters)
            slot.ParamMapReverse[static_cast<std::size_t>(parameter)] = static_cast<int>(row);
    }
}

std::vector<int> ParameterList::unmappedParameters(const TVstPlugIn& slot) {
    const int parameters = parameterCount(slot);
    std::vector<bool> shown(static_cast<std::size_t>(parameters), false);
    for (const auto& entry : slot.ParamMap)
        if (entry.index >= 0 && entry.index < parameters) shown[static_cast<std::size_t>(entry.index)] = true;
    std::vector<int> free;
    for (int p = 0; p < parameters; ++p)
        if (!shown[static_cast<std::size_t>(p)]) free.push_back(p);
    return free;
}

void ParameterList::appendRows(TVstPlugIn& slot, const std::vector<int>& parameters) {
    const int count = parameterCount(slot);
    for (const int parameter : parameters) {
        if (parameter < 0 || parameter >= count) continue;
        TVstPlugIn::ParamMapEntry entry;
        entry.index = parameter;
        slot.ParamMap.push_back(entry);
    }
    rebuildReverse(slot);
}

void ParameterList::removeRows(TVstPlugIn& slot, const std::vector<int>& rows) {
    std::vector<int> sorted(rows);
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (const int row : sorted)
        if (row >= 0 && row < static_cast<int>(slot.ParamMap.size())) slot.ParamMap.erase(slot.ParamMap.begin() + row);
    rebuildReverse(slot);
}

std::vector<int> ParameterList::moveRows(TVstPlugIn& slot, const std::vector<int>& rows, int direction) {
    std::vector<int> sorted(rows);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const int size = static_cast<int>(slot.ParamMap.size());
    if (sorted.empty() || sorted.front() < 0 || sorted.back() >= size || direction == 0) return sorted;
    // The first unbroken run of selected rows.
    const int first = sorted.front();
    int last = first;
    while (std::binary_search(sorted.begin(), sorted.end(), last + 1)) ++last;
    auto& map = slot.ParamMap;
    if (direction < 0) {
        if (first == 0) return sorted;
        std::rotate(map.begin() + first - 1, map.begin() + first, map.begin() + last + 1);
    } else {
        if (last == size - 1) return sorted;
        std::rotate(map.begin() + first, map.begin() + last + 1, map.begin() + last + 2);
    }
    rebuildReverse(slot);
    std::vector<int> moved;
    for (int row = first; row <= last; ++row) moved.push_back(row + (direction < 0 ? -1 : 1));
    return moved;
}

std::string ParameterList::rowName(TVstPlugIn& slot, int row) {
    if (row < 0 || row >= static_cast<int>(slot.ParamMap.size())) return {};
    const auto& entry = slot.ParamMap[static_cast<std::size_t>(row)];
    if (!entry.name.empty()) return entry.name;
    const int parameter = entry.index;
    return parameter >= 0 && parameter < parameterCount(slot) ? trimmedText(slot.GetParamName(parameter)) : "";
}

bool ParameterList::renameRow(TVstPlugIn& slot, int row, const std::string& name) {
    if (row < 0 || row >= static_cast<int>(slot.ParamMap.size())) return false;
    auto& entry = slot.ParamMap[static_cast<std::size_t>(row)];
    const bool own = entry.index >= 0 && entry.index < parameterCount(slot) &&
                     trimmedText(slot.GetParamName(entry.index)) == trimmedText(name);
    // The plug-in's own name leaves the caption empty, so that its later names show through.
    entry.name = own ? std::string() : trimmedText(name).substr(0, kCaptionLength);
    return true;
}

// ---- Export ----

std::string ParameterList::exportText(TVstPlugIn* slot, bool firstPreset) {
    std::string text = firstPreset ? "1st Preset\r\n" : "[Prms]\r\n";
    if (slot == nullptr || !slot->hasEffect()) return text;
    const int parameters = parameterCount(*slot);
    for (int i = 0; i < parameters; ++i) {
        const float value = slot->GetParameter(i);
        std::string line = "p-" + std::to_string(i) + "=0,1,0.01,0.1," + fiveDecimals(value);
        if (firstPreset) {
            // The value's four bytes in memory order as characters, control bytes as blanks,
            // then its bit pattern.
            unsigned char bytes[4];
            std::memcpy(bytes, &value, sizeof bytes);
            std::uint32_t pattern = 0;
            std::memcpy(&pattern, &value, sizeof pattern);
            line += "=";
            for (const unsigned char byte : bytes) line += static_cast<char>(byte < 32 ? ' ' : byte);
            char hex[16];
            std::snprintf(hex, sizeof hex, "=$%08X", pattern);
            line += hex;
        }
        line += ",\"" + dispatchedText(*slot, effGetParamName, i) + "\",\"" +
                dispatchedText(*slot, effGetParamLabel, i) + "\"\r\n";
        text += line;
    }
    return text;
}

bool ParameterList::exportParameters(TVstPlugIn* slot, const std::string& path, bool firstPreset, std::string& error) {
    return platform::writeFileAtomically(path, exportText(slot, firstPreset), error);
}

} // namespace trelvo::rack
