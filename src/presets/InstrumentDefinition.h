#pragma once

#include <array>
#include <string>
#include <vector>

#include "presets/PresetList.h"

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::presets {

// Instrument definitions: the text files in which MIDI sequencers look up the program and
// bank names of an instrument. Trelvo writes one for a plug-in that names its MIDI programs
// and reads it back to list those names in the MIDI program mode of the preset list.

/// The profile's "MidiIns" value taken apart: the definition file (inside the instrument
/// definition folder), the instrument's name and the name of its drum set.
struct InstrumentNames {
    std::string file, instrument, drumset;
};

/// False when the value is shorter than 20 characters or names no file. An empty
/// instrument name becomes the file name without its extension, an empty drum-set name
/// the instrument name followed by " Drumsets".
bool parseMidiIns(const std::string& value, InstrumentNames& names);

/// One MIDI program name a plug-in reports.
struct MidiProgramEntry {
    int bank = 0;    ///< the bank LSB the plug-in reports for it (0 when it reports none)
    int program = 0; ///< the MIDI program number
    std::string name;
};

/// The names of the 128 banks; "Bank n" until a definition names them.
using BankNames = std::array<std::string, 128>;
BankNames defaultBankNames();

/// Takes over the bank names that the instrument's section of an existing definition gives
/// ("Patch[n]=name" lines); other lines and numbers beyond 127 change nothing.
void takeOverBankNames(const std::string& text, const std::string& instrument, BankNames& names);

/// The definition file's text: patch names by bank, the instrument and its drum set. Lines
/// end in CR LF, as sequencers that read this format expect.
std::string instrumentDefinitionText(const std::vector<MidiProgramEntry>& entries, int bankCount,
                                     const BankNames& bankNames, const InstrumentNames& names);

/// Asks the plug-in for its MIDI program names (channel 0) in the order it reports them;
/// bankCount receives the number of bank changes along the way. Programs with a negative
/// MIDI program number are left out.
std::vector<MidiProgramEntry> queryMidiProgramNames(host::TVstPlugIn& slot, int& bankCount);

/// What "generate INS file" did.
enum class InsOutcome {
    NotOffered, ///< the slot has a MIDI bank style or the plug-in names no MIDI programs
    NoSetting,  ///< "MidiIns" too short or without a file name: nothing written
    Written,
    Failed, ///< the file could not be written; error says why, the old file is intact
};

/// Writes the definition of the slot's plug-in into folder, keeping the bank names an
/// existing file gives. Thread: user interface.
InsOutcome generateInsFile(host::TVstPlugIn& slot, const std::string& folder, std::string& file, std::string& error);

/// The preset-list items of the slot's current MIDI bank (view 0) or of the instrument's
/// banks (view 1) from its definition in folder; empty without one. Reading the
/// instrument's "BankSelMethod" sets the slot's MIDI bank style (its case kept).
std::vector<PresetItem> instrumentItems(host::TVstPlugIn& slot, const std::string& folder, int view);

} // namespace trelvo::presets
