#pragma once

#include <set>
#include <string>

#include "persist/IniFile.h"

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::project {

/// The whole state of a project's plug-ins, kept beside the project so that a reopened
/// project sounds as it did when it was saved. Each plug-in slot's state is a file in a
/// folder named after the project, its name made of the slot's number and its SlotID: a
/// plug-in whose programs are chunks keeps its bank chunk ("Live Set.vprj" keeps "Live
/// Set.state/03_5003.fxb"), any other plug-in its current program in parameter form
/// ("Live Set.state/04_5004.fxp"); saving never selects a program of a plug-in. The
/// slot's key "03_State" holds the program that was current and the file relative to the
/// project's folder: "7,Live Set.state/03_5003.fxb", so a copied or moved project folder
/// still finds it. Thread: user interface.

/// The state folder of a project file: its name with ".vprj" (any case) replaced by
/// ".state", or ".state" appended to a name without that extension.
std::string stateFolderOf(const std::string& projectFile);
/// "03_5003.fxb" for slot number 3 with SlotID 5003 holding a bank chunk, "03_5003.fxp"
/// for one holding a program.
std::string stateFileName(int number, int slotId, bool bank);
/// True for names of the form stateFileName makes: two digits, "_", digits, ".fxb" or ".fxp".
bool isStateFileName(const std::string& name);

/// Writes the state of the plug-in slot numbered number into the project's state folder
/// and returns the value of its "State" key; empty, with a log line, when no state could
/// be kept. A slot whose library did not load carries on the state file its project
/// named. The file's name goes into written.
std::string saveSlotState(host::TVstPlugIn& slot, const std::string& projectFile, int number,
                          std::set<std::string>& written);

/// After the project was saved: removes the state files of its folder that it no longer
/// names (only names isStateFileName accepts; nothing else is touched), and the folder
/// when that leaves it empty.
void removeStaleStates(const std::string& projectFile, const std::set<std::string>& written);

/// Reads prefix "State" into the slot's ProjectStateFile and ProjectStateProgram (made
/// absolute against the project's folder); clears them when the key is absent.
void readStateKey(persist::IniHandle& handle, const std::string& prefix, const std::string& projectFile,
                  host::TVstPlugIn& slot);

/// Loads the state the slot's key named into its plug-in. False when there is none, and,
/// with an error line naming the slot and the file, when the file is missing, damaged or
/// refused: the plug-in is then left as its preset keys set it.
bool restoreSlotState(host::TVstPlugIn& slot, const std::string& prefix);

} // namespace trelvo::project
