#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "midi/MidiRoute.h"
#include "persist/AppSettings.h"

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::project {

/// A plug-in profile remembers, per library, how the host treats the plug-in: its slot
/// name, preset state, MIDI options, accepted preset ids, editor behaviour, parameter map,
/// levels and MIDI routing. It is read whenever the library is loaded into a slot and
/// written only on the user's request. Thread: user interface.

/// "VSTprofiles Folder" + "/" + the library's file name without extension + ".vprf".
std::string profilePath(const persist::AppSettings& settings, const std::string& libraryPath);

/// Mode 0: the library path the profile's "DLLpath" names (looked for in the VST folders,
/// then against the program's folder); empty when the profile names none.
std::string profileLibraryPath(const persist::AppSettings& settings, const std::string& libraryPath);

/// The profile's "isolated" key: the plug-in runs in a process of its own. False without
/// a profile.
bool profileIsolated(const persist::AppSettings& settings, const std::string& libraryPath);

/// Mode 1: reads the profile into the slot of an open plug-in. False when there is none.
/// profileFile names the profile to read; empty: the library's own in the profiles folder.
bool readProfile(const persist::AppSettings& settings, host::TVstPlugIn& slot, const midi::PortResolver& resolve,
                 const std::string& profileFile = {});

/// Mode 2 ("Save VSTprofile"): writes the slot's profile. False when it could not be written.
bool writeProfile(const persist::AppSettings& settings, const host::TVstPlugIn& slot);

/// Plug-in identifiers as "LoadChkVstIDs" writes them: four characters when all four
/// bytes are printable, else "$" and eight hexadecimal digits. Reading gives 0 for
/// anything else.
std::string vstIdText(std::int32_t id);
/// The slot's further accepted plug-in ids (never its own), "," separated, as the profile
/// key "LoadChkVstIDs" keeps them.
std::string acceptedIdsText(const host::TVstPlugIn& slot);
std::int32_t parseVstId(std::string_view text);

} // namespace trelvo::project
