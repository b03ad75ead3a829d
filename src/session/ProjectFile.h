#pragma once

#include <string>

namespace trelvo::rack {
class RackController;
}

namespace trelvo::project {

/// A project (".vprj"): the window layout, the page tabs and every slot with its kind,
/// name, run mode, volumes, MIDI routing, plug-in library and preset state. The same
/// format is a template when a plug-in slot's library is "%dll.dll". Thread: user interface.

/// Writes the rack to path. Sections and comments the project does not own stay; the file
/// is replaced only once it was written whole. False with no slots, for a template in DLL
/// template mode, or when the folder may not be created or the file not written.
bool saveProject(rack::RackController& controller, const std::string& path);

/// Replaces the rack with the project at path (or the same name in the Projects folder).
/// False, with nothing changed, when neither exists; otherwise true when at least one
/// slot exists afterwards. Bad values load what can be loaded and log the rest.
bool loadProject(rack::RackController& controller, const std::string& path);

} // namespace trelvo::project
