#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace trelvo::rack {

class RackController;

/// What the Preferences dialog edits, without the dialog: a copy of the settings the user
/// may change while the program runs. Nothing reaches the program before apply(); dropping
/// the editor is Cancel. Thread: user interface.
class PreferencesEditor {
public:
    explicit PreferencesEditor(RackController& controller);

    // ---- "General" ----
    bool statusBar = false;
    bool useAllCpus = false;
    bool isolateAfterFault = false;
    bool debug = true, writeLog = false, errorLog = false;
    /// The association boxes, in the order shown: "DLL  VST plugins", "VPRJ  project
    /// files", "VPRF  VSTprofiles", "DL  VST plugins". Only boxes the user clicked change
    /// the desktop's associations.
    enum Association { kPlugins, kProjects, kProfiles, kPlugins2, kAssociations };
    std::array<bool, kAssociations> associations{};
    void clickAssociation(int box, bool on);
    std::string textEditor, projectsFolder, profilesFolder, instrDefFolder, imagesFolder, templatesFolder;

    // ---- "Midi Inputs" and "MIDI Outputs" ----
    struct DeviceRow {
        std::string device;
        std::string port; ///< the port name; empty: the device is not used
    };
    std::vector<DeviceRow> inputs, outputs;             ///< the devices present
    std::vector<DeviceRow> absentInputs, absentOutputs; ///< named devices not present now
    /// F2 on a device row: empty when the name was taken, else why it was refused. An empty
    /// name closes the port.
    std::string renamePort(bool input, int row, const std::string& name);
    /// "&Remove": forgets an absent device's name.
    bool removeAbsent(bool input, int row);
    /// "&1 DEFAULT MIDI input port": the virtual ports to choose from, and the choice.
    std::vector<std::string> defaultPortChoices() const;
    std::string defaultPort;

    // ---- The driver page ----
    std::vector<std::string> drivers; ///< "&Driver:" choices
    std::string driver;
    /// What "&Control Panel..." chose; 0 keeps the driver's own.
    std::int32_t bufferSize = 0;
    double sampleRate = 0.0;
    int outputChannel = 0, inputChannel = 0;
    /// Port number of each driver channel ("PortNr"), -1 when the channel takes no part.
    std::array<int, 32> inputMap{}, outputMap{};
    int outputVolumeDb = 0, inputVolumeDb = 0;
    /// "SampleRate: 48000,   BufferSize: 256,   Delay: 5.3ms", or "ASIO not properly
    /// initialized" without a running driver.
    std::string informationLine() const;
    /// The driver's channel names, as the channel lists and maps show them.
    std::vector<std::string> inputChannelNames, outputChannelNames;

    // ---- "VST Folders" ----
    struct FolderRow {
        std::string name; ///< "FolderName"; empty rows are named "VST(n)" at OK
        std::string folder;
    };
    std::vector<FolderRow> vstFolders;
    /// F2 on a folder row: empty when taken, else why refused.
    std::string renameFolder(int row, const std::string& name);
    bool linearKnobs = true;
    bool showEditorWhenAdding = true;

    // ---- "Debug" ----
    std::vector<std::int32_t> hostLevels, plugLevels; ///< per opcode; kLevelAll is "ALL"
    bool verbose = false;
    /// F2 on a row: "ALL" (or "A"), "off", or a count; false for anything else.
    static bool parseLevelText(const std::string& text, std::int32_t& level);

    /// OK: applies everything in the designed order with processing held, writes the
    /// settings and carries out clicked associations. Returns the problems the user must
    /// hear of (an association that could not be written); empty when all went well.
    std::vector<std::string> apply();

private:
    static std::string portNameProblem(const std::string& name);

    RackController& rack;
    std::array<bool, kAssociations> clicked{};
    std::array<bool, kAssociations> initialAssociations{};
    std::vector<DeviceRow> initialInputs, initialOutputs;
    std::vector<FolderRow> initialFolders;
    bool initialUseAllCpus = false;
};

} // namespace trelvo::rack
