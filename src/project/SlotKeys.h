#pragma once

#include <string>

#include "persist/IniFile.h"

namespace trelvo::host {
class TVstPlugIn;
}
namespace trelvo::rack {
class SlotRecord;
}

namespace trelvo::project {

/// The keys a project's slot and a plug-in profile share, each with a key prefix ("03_"
/// in a project, empty in a profile).

/// "InpVol", "WetVol", "DryVol", "Pan": written only when they differ from the kind's
/// defaults; "~" is off.
void writeVolumeKeys(persist::IniHandle& handle, const std::string& prefix, const rack::SlotRecord& slot);
/// Reads the four keys, absent ones giving the kind's defaults, and applies them in the
/// order input, wet, dry, pan.
void readVolumeKeys(persist::IniHandle& handle, const std::string& prefix, rack::SlotRecord& slot);

/// The preset keys: folders relative to the library's folder, "." for an empty value. The
/// template slot writes every key as "." and no "PresetMode".
void writePresetKeys(persist::IniHandle& handle, const std::string& prefix, const host::TVstPlugIn& slot,
                     bool templateSlot);
/// Reads the preset keys; "." or an empty value keeps what loading the library set.
void readPresetKeys(persist::IniHandle& handle, const std::string& prefix, host::TVstPlugIn& slot);

/// "oMid1-Port" when it is set, then the input routes.
void writeRoutingKeys(persist::IniHandle& handle, const std::string& prefix, const host::TVstPlugIn& slot);

/// "PresetMode" values of older files in today's three-character form.
std::string convertPresetMode(const std::string& value);

/// The folder of the slot's library, with a trailing "/".
std::string libraryFolder(const host::TVstPlugIn& slot);

/// A key's value with "." read back as empty.
std::string readDotted(persist::IniHandle& handle, const std::string& key);
/// Writes a value, "." when it is empty, so that the key exists.
void writeDotted(persist::IniHandle& handle, const std::string& key, const std::string& value);

} // namespace trelvo::project
