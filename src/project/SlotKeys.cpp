#include "project/SlotKeys.h"

#include <algorithm>

#include "host/TVstPlugIn.h"
#include "midi/MidiRoute.h"
#include "model/SlotRecord.h"
#include "model/VolumeCodec.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"

namespace trelvo::project {

using platform::withoutTrailingSlash;
using platform::withTrailingSlash;

namespace {

int defaultInputVolume(rack::SlotKind kind) {
    return kind == rack::SlotKind::Group || kind == rack::SlotKind::Output ? 0 : rack::kVolumeOff;
}

std::string volumeText(int dB) {
    return dB < rack::kVolumeMin ? "~" : std::to_string(dB);
}

int readVolume(persist::IniHandle& handle, const std::string& key, int fallback) {
    const std::string text(persist::trimmed(persist::IniStr(handle, key, "")));
    if (text.empty()) return fallback;
    if (text == "~") return rack::kVolumeOff;
    std::int32_t value = 0;
    return persist::parseWholeNumber(text, value) ? rack::clampVolumeDb(value) : fallback;
}

/// A folder stored relative to the library's folder, without trailing "/".
std::string storedFolder(const host::TVstPlugIn& slot, const std::string& folder) {
    if (folder.empty()) return {};
    return withoutTrailingSlash(persist::RelativePath(libraryFolder(slot), withTrailingSlash(folder)));
}

} // namespace

std::string libraryFolder(const host::TVstPlugIn& slot) {
    const std::size_t slash = slot.DllPath.rfind('/');
    return slash == std::string::npos ? persist::programFolder() : slot.DllPath.substr(0, slash + 1);
}

std::string readDotted(persist::IniHandle& handle, const std::string& key) {
    std::string value = persist::IniStr(handle, key, "");
    return value == "." ? std::string() : value;
}

void writeDotted(persist::IniHandle& handle, const std::string& key, const std::string& value) {
    persist::IniStr(handle, key, value.empty() ? "." : value);
}

void writeVolumeKeys(persist::IniHandle& handle, const std::string& prefix, const rack::SlotRecord& slot) {
    const int input = slot.InpVol.getDb();
    if (input != defaultInputVolume(slot.kind())) persist::IniStr(handle, prefix + "InpVol", volumeText(input));
    if (slot.WetVol.getDb() != 0) persist::IniStr(handle, prefix + "WetVol", volumeText(slot.WetVol.getDb()));
    if (slot.DryVol.getDb() >= rack::kVolumeMin)
        persist::IniStr(handle, prefix + "DryVol", volumeText(slot.DryVol.getDb()));
    if (slot.pan.getStep() != 0) persist::IniStr(handle, prefix + "Pan", std::to_string(slot.pan.getStep()));
}

void readVolumeKeys(persist::IniHandle& handle, const std::string& prefix, rack::SlotRecord& slot) {
    slot.InpVol.set(readVolume(handle, prefix + "InpVol", defaultInputVolume(slot.kind())));
    slot.WetVol.set(readVolume(handle, prefix + "WetVol", 0));
    slot.DryVol.set(readVolume(handle, prefix + "DryVol", rack::kVolumeOff));
    const std::string pan(persist::trimmed(persist::IniStr(handle, prefix + "Pan", "")));
    std::int32_t step = 0;
    slot.pan.set(persist::parseWholeNumber(pan, step) ? rack::clampPanStep(step) : 0);
}

std::string convertPresetMode(const std::string& value) {
    if (value.empty()) return "s s";
    if (value.size() == 1) {
        const char c = value[0];
        if (c == 'p' || c == 's' || c == 'x') return std::string{c, ' ', c};
        if (c == 'M' || c == 'm') return "spm";
        return "s s";
    }
    if (value.size() == 2) return value + (value[1] != ' ' ? 'm' : 's');
    return value.substr(0, 3);
}

void writePresetKeys(persist::IniHandle& handle, const std::string& prefix, const host::TVstPlugIn& slot,
                     bool templateSlot) {
    const auto write = [&](const char* key, const std::string& value) {
        writeDotted(handle, prefix + key, templateSlot ? "" : value);
    };
    write("FXBfolder", storedFolder(slot, slot.FXBfolder));
    write("FXBfile", slot.FXBfile);
    write("FXPbank", withoutTrailingSlash(slot.FXPbank));
    write("FXPfolder", storedFolder(slot, slot.FXPfolder));
    write("FXPfile", slot.PresetFileName);
    write("Preset", slot.CurProgramName.substr(0, 24));
    if (!templateSlot) persist::IniStr(handle, prefix + "PresetMode", slot.presetMode);
}

void readPresetKeys(persist::IniHandle& handle, const std::string& prefix, host::TVstPlugIn& slot) {
    const std::string base = libraryFolder(slot);
    const auto folder = [&](const char* key, std::string& field) {
        const std::string value = readDotted(handle, prefix + key);
        if (!value.empty()) field = withTrailingSlash(persist::ExpandPath(base, value));
    };
    const auto text = [&](const char* key, std::string& field) {
        const std::string value = readDotted(handle, prefix + key);
        if (!value.empty()) field = value;
    };
    folder("FXBfolder", slot.FXBfolder);
    text("FXBfile", slot.FXBfile);
    text("FXPbank", slot.FXPbank);
    folder("FXPfolder", slot.FXPfolder);
    text("FXPfile", slot.PresetFileName);
    text("Preset", slot.CurProgramName);
    const std::string mode = persist::IniStr(handle, prefix + "PresetMode", "\x01");
    if (mode != "\x01") slot.presetMode = convertPresetMode(mode);
}

void writeRoutingKeys(persist::IniHandle& handle, const std::string& prefix, const host::TVstPlugIn& slot) {
    if (!slot.midi->outputPortName.empty()) persist::IniStr(handle, prefix + "oMid1-Port", slot.midi->outputPortName);
    midi::writeRoutes(handle, prefix, slot.midi->routes, false);
}

} // namespace trelvo::project
