#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "persist/IniFile.h"

namespace trelvo::persist {

inline constexpr int kExchangeRead = 1;
inline constexpr int kExchangeWrite = 2;

/// The driver in use when settings are written: its channel counts size the channel maps.
struct LoadedDriver {
    std::string name;
    int numInputs = 0;
    int numOutputs = 0;
};

/// The application settings file ("Trelvo.ini" in the Trelvo home folder) and every key
/// of groups 0 and 1, with their defaults. One exchange routine reads a group (direction
/// 1: each current value is the default) or writes it back (direction 2) in the designed
/// key order. Groups 2 to 8 belong to other parts of the program, which register their own
/// routine with setGroupHandler. Thread: user interface.
class AppSettings {
public:
    /// folder is the program's folder; empty means the Trelvo home folder.
    explicit AppSettings(std::string folder = {});

    /// The settings file's full path.
    const std::string& fileName() const noexcept { return iniFileName; }

    void exchange(IniHandle& handle, int group, int direction);
    /// Reads the keys kept per driver (channel maps, "<driver> BUFFER") for asioDriver, as
    /// when another driver is chosen; without them the driver's defaults.
    void readDriverKeys();
    /// Start: group 0, then group 1 (after their defaults), each closing the file.
    void readAll();
    /// Exit: group 0 written and the file closed, then group 1 and closed again.
    /// False when the file could not be written.
    bool writeAll();

    using GroupHandler = std::function<void(IniHandle& handle, int direction)>;
    void setGroupHandler(int group, GroupHandler handler);

    /// Puts "Debug", "WrLog", "ErrLog" and "DebugVerbose" into the log's switches.
    void applyLogSwitches() const;
    /// The noise-floor level: 1 / "NoiseFloor".
    double noiseFloor() const noexcept { return noiseFloorValue > 0 ? 1.0 / noiseFloorValue : 1e-5; }

    /// The developer switch: $TRELVO_ISDEV is "Yes" in any case.
    bool isDev = false;

    /// Asked when writing group 0: the driver in use, if any.
    std::function<std::optional<LoadedDriver>()> loadedDriver;

    // ---- "Layout" ----
    bool debugVerbose = false;
    bool maximized = false;
    int windowX = 10, windowY = 10, windowW = 800, windowH = 550;
    int listSplit = 260;  ///< "LTsplit" (older files: "LVsplit")
    int lowerSplit = 180; ///< "LBsplit"
    char parameterDock = 'd';
    bool autoLoadProject = false;
    int propertiesPageIndex = 0;
    /// The main window shows its status bar (block times, load, xruns).
    bool statusBar = false;
    /// DLL template mode writes these in place of the window keys.
    bool dllTemplateMode = false;
    int dllWindowX = 10, dllWindowY = 10;
    char dllParameterDock = 'd';
    int dllLowerSplit = 180;

    // ---- "ASIO" ----
    std::string asioDriver;
    int outputChannel = 0;
    int inputChannel = 0;
    /// The buffer size and rate the driver's control panel chose ("<driver> BUFFER"); 0
    /// keeps the driver's own.
    int driverBufferSize = 0;
    double driverSampleRate = 0.0;

    // ---- "vMIDIports" ----
    std::string defaultPort = "MAIN";

    // ---- "Audio" ----
    int outputVolumeDb = 0;
    int inputVolumeDb = 0;
    float outputVolumeGain = 1.0f;
    float inputVolumeGain = 1.0f;

    // ---- "General" ----
    std::string templatesFolder, vstImagesFolder, vstScanFolder, pluginFolder, instrDefFolder, vstProfilesFolder,
        projectsFolder, presetFolder, exportFolder, lastProject;
    bool usePresetDir = false;
    std::string textEditor;
    bool debug = true;
    bool writeLog = false;
    bool errorLog = false;
    /// "ext_DLL", "ext_VPRJ", "ext_VPRF", "ext_DL": the file associations the user chose.
    std::array<bool, 4> associations{};

    // ---- "VSTfolders": folder path and display name ----
    std::vector<std::pair<std::string, std::string>> vstFolders;

    // ---- "VST" ----
    int idleTime = 30;
    int tempo = 120;
    int timeSigNumerator = 4;
    int timeSigDenominator = 4;
    bool useAllCpus = false;
    /// A plug-in that faulted in the process is loaded again in a process of its own.
    bool isolateAfterFault = false;
    int noiseFloorValue = 100000;
    std::string knobMode = "Linear";
    bool addShowEditor = true;

    // ---- "Remote" ----
    /// "OscPort": the UDP port of the OSC remote control; 0 leaves it off.
    int oscPort = 0;
    /// "OscAddress": where it listens; only this computer unless the user names another.
    std::string oscAddress = "127.0.0.1";

private:
    void exchangeGroup0(IniHandle& handle, int direction);
    void exchangeGroup1(IniHandle& handle, int direction);
    void exchangeFolder(IniHandle& handle, const char* key, std::string& folder, bool normalise);
    void exchangeChannelMap(IniHandle& handle, int direction);
    void exchangeDriverBuffer(IniHandle& handle, int direction);
    void exchangeDebugLevels(IniHandle& handle, int direction);

    std::string folder;
    std::string iniFileName;
    std::array<GroupHandler, 9> handlers;
};

/// "Circular" 0, "CircularRelativ" 1, "Linear" 2 (anything else: 2).
int knobModeNumber(const std::string& text) noexcept;

} // namespace trelvo::persist
