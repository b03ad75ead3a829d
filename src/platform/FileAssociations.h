#pragma once

#include <string>

namespace trelvo::platform {

/// The association boxes of the Preferences dialog.
enum class Association {
    Plugins,  ///< "DLL  VST plugins": shared-library plug-ins, offered under "open with" only
    Plugins2, ///< "DL  VST plugins": Linux has no .dl plug-ins; never available
    Projects, ///< "VPRJ  project files": application/x-trelvo-project
    Profiles, ///< "VPRF  VSTprofiles": application/x-trelvo-profile
};

/// What an association is written with.
struct AssociationContext {
    std::string dataHome;    ///< the XDG data folder written into; empty: defaultDataHome()
    std::string program;     ///< the trelvo executable, run with the file
    std::string textEditor;  ///< the editor of the "edit" action; empty: no edit action
    std::string title;       ///< the application title, as in "Trelvo Project"
    std::string stateFolder; ///< where the record of what Trelvo created lives; empty: trelvoHome()
};

/// False for an association Linux cannot have (Plugins2); setting it on then fails and
/// setting it off does nothing.
bool associationAvailable(Association association);

/// Switches an association on or off the freedesktop way, in the data folder:
/// applications/<class>.desktop (a hidden entry with the "open" and "edit" verbs), for the
/// Trelvo types also mime/packages/<class>.xml and a default in applications/mimeapps.list
/// when that type has none yet; then update-mime-database and update-desktop-database, when
/// installed. What "on" created is noted in the state folder, and "off" removes exactly that,
/// in this run or a later one, down to the caches and folders that were not there before.
/// False, with the reason in error, when something could not be written or removed; a failed
/// "on" is undone. On success error is empty, or says that a cache tool failed (the
/// association is in place; the desktop may see it only after its next cache update).
/// Thread: user interface.
bool setAssociation(Association association, bool on, const AssociationContext& context, std::string& error);

/// True when the association's desktop entry (and for the Trelvo types its mime package) is
/// in the data folder, whatever the settings say.
bool associationInstalled(Association association, const AssociationContext& context);

/// $XDG_DATA_HOME when set to an absolute path, else ~/.local/share; no trailing "/".
std::string defaultDataHome();

} // namespace trelvo::platform
