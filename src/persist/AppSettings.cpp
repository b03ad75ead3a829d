#include "persist/AppSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "diag/DiagLog.h"
#include "diag/OpcodeLevels.h"
#include "persist/ChannelSelection.h"
#include "persist/PathForms.h"
#include "platform/TrelvoHome.h"
#include "vst/VstNames.h"

namespace trelvo::persist {

namespace {

std::string defaultTextEditor() {
    for (const char* variable : {"VISUAL", "EDITOR"})
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
    return "xdg-open";
}

bool developerSwitch() {
    const char* value = std::getenv("TRELVO_ISDEV");
    return value != nullptr && sameName(value, "Yes");
}

/// -49 dB stands for "off" in every stored volume, here as in a slot's.
constexpr int kVolumeOffDb = -49;

int clampVolume(int dB) {
    return std::clamp(dB, kVolumeOffDb, 0);
}

} // namespace

int knobModeNumber(const std::string& text) noexcept {
    if (sameName(text, "Circular")) return 0;
    if (sameName(text, "CircularRelativ")) return 1;
    return 2;
}

AppSettings::AppSettings(std::string programFolderPath)
    : isDev(developerSwitch()),
      folder(programFolderPath.empty()
                 ? programFolder()
                 : (programFolderPath.back() == '/' ? programFolderPath : programFolderPath + "/")),
      iniFileName(folder + "Trelvo.ini") {
    templatesFolder = folder + "Templates";
    vstImagesFolder = folder + "VSTimages";
    vstScanFolder = "_";
    pluginFolder = "_";
    instrDefFolder = folder + "Instr";
    vstProfilesFolder = folder + "VSTprofiles";
    projectsFolder = folder + "Projects";
    presetFolder = folder.substr(0, folder.size() - 1);
    exportFolder = "_";
    lastProject = folder + "*.vprj";
    textEditor = defaultTextEditor();
}

void AppSettings::setGroupHandler(int group, GroupHandler handler) {
    if (group >= 0 && group < static_cast<int>(handlers.size()))
        handlers[static_cast<std::size_t>(group)] = std::move(handler);
}

void AppSettings::exchange(IniHandle& handle, int group, int direction) {
    if (group == 0)
        exchangeGroup0(handle, direction);
    else if (group == 1)
        exchangeGroup1(handle, direction);
    else if (group > 1 && group < static_cast<int>(handlers.size()) && handlers[static_cast<std::size_t>(group)])
        handlers[static_cast<std::size_t>(group)](handle, direction);
}

void AppSettings::readAll() {
    IniHandle handle;
    exchange(handle, 0, kExchangeRead);
    CloseIni(handle);
    exchange(handle, 1, kExchangeRead);
    CloseIni(handle);
}

bool AppSettings::writeAll() {
    IniHandle handle;
    exchange(handle, 0, kExchangeWrite);
    bool ok = CloseIni(handle);
    exchange(handle, 1, kExchangeWrite);
    ok = CloseIni(handle) && ok;
    return ok;
}

void AppSettings::applyLogSwitches() const {
    diag::LogSwitches& switches = diag::theLog().switches;
    switches.debugOutput = debug;
    switches.writeLog = writeLog;
    switches.errorLog = errorLog;
    switches.verbose = debugVerbose;
}

void AppSettings::exchangeGroup0(IniHandle& handle, int direction) {
    const int mode = direction == kExchangeRead ? kIniRead : kIniWrite;
    const bool writing = direction == kExchangeWrite;

    OpenIni(handle, iniFileName, "Layout", mode);
    debugVerbose = IniBool(handle, "DebugVerbose", debugVerbose);
    if (!writing || !dllTemplateMode) {
        maximized = IniBool(handle, "MainWindowMaximized", maximized);
        if (!writing || !maximized) {
            windowX = IniInt(handle, "MainWindowX", windowX);
            windowY = IniInt(handle, "MainWindowY", windowY);
            windowW = IniInt(handle, "MainWindowW", windowW);
            windowH = IniInt(handle, "MainWindowH", windowH);
        }
        if (writing) {
            IniStr(handle, "LVsplit", ""); // the older name goes
        } else {
            listSplit = IniInt(handle, "LVsplit", listSplit);
        }
        listSplit = IniInt(handle, "LTsplit", listSplit);
        lowerSplit = IniInt(handle, "LBsplit", lowerSplit);
        const std::string dock = IniStr(handle, "LprmDock", std::string(1, parameterDock));
        if (!dock.empty()) parameterDock = dock[0];
        autoLoadProject = IniBool(handle, "AutoLoadProject", autoLoadProject);
    } else {
        dllWindowX = IniInt(handle, "DllWindowX", dllWindowX);
        dllWindowY = IniInt(handle, "DllWindowY", dllWindowY);
        IniStr(handle, "DllLprmDock", std::string(1, dllParameterDock));
        dllLowerSplit = IniInt(handle, "DllLBsplit", dllLowerSplit);
    }
    propertiesPageIndex = IniInt(handle, "PropertiesPageIndex", propertiesPageIndex);
    statusBar = IniBool(handle, "StatusBar", statusBar);

    OpenIni(handle, iniFileName, "ASIO", mode);
    asioDriver = IniStr(handle, "ASIO Driver", asioDriver);
    outputChannel = IniInt(handle, "Output Channel", outputChannel);
    inputChannel = IniInt(handle, "Input Channel", inputChannel);
    exchangeDriverBuffer(handle, direction);
    exchangeChannelMap(handle, direction);

    OpenIni(handle, iniFileName, "vMIDIports", mode);
    defaultPort = IniStr(handle, "DefaultPort", defaultPort);

    exchangeDebugLevels(handle, direction);
}

void AppSettings::exchangeDriverBuffer(IniHandle& handle, int direction) {
    if (asioDriver.size() < 3) return;
    // Written only once a control panel chose something: a file without it stays so.
    const std::string key = asioDriver + " BUFFER";
    if (direction == kExchangeRead) {
        IniCursor cursor;
        const std::string text = IniStr(handle, key, "");
        std::int32_t size = 0, rate = 0;
        if (IniItem(-3, cursor, text) != kIniError && parseWholeNumber(IniItem(0, cursor), size) &&
            parseWholeNumber(IniItem(1, cursor), rate) && size > 0 && rate > 0) {
            driverBufferSize = size;
            driverSampleRate = rate;
        }
    } else if (driverBufferSize > 0 && driverSampleRate > 0) {
        IniStr(handle, key,
               std::to_string(driverBufferSize) + "," + std::to_string(static_cast<long>(driverSampleRate)));
    }
}

void AppSettings::readDriverKeys() {
    driverBufferSize = 0;
    driverSampleRate = 0.0;
    channelSelection() = ChannelSelection{};
    IniHandle handle;
    OpenIni(handle, iniFileName, "ASIO", kIniRead);
    exchangeDriverBuffer(handle, kExchangeRead);
    exchangeChannelMap(handle, kExchangeRead);
    CloseIni(handle);
}

void AppSettings::exchangeChannelMap(IniHandle& handle, int direction) {
    ChannelSelection& selection = channelSelection();
    if (direction == kExchangeRead) {
        if (asioDriver.size() < 3) return;
        for (int isInput = 1; isInput >= 0; --isInput) {
            IniCursor cursor;
            const std::string text = IniStr(handle, asioDriver + (isInput ? " IN" : " OUT"), "");
            if (IniItem(-3, cursor, text) == kIniError) continue;
            auto& table = isInput ? selection.inputs : selection.outputs;
            for (std::size_t k = 0; k < table.size(); ++k) {
                const std::string item = IniItem(static_cast<int>(k), cursor);
                if (item.empty()) continue;
                std::int32_t number = 0;
                if (item == "-")
                    table[k] = -1; // 255 as a signed byte: not assigned
                else if (parseWholeNumber(item, number))
                    table[k] = static_cast<std::int8_t>(number);
            }
        }
        return;
    }
    if (!loadedDriver) return;
    const std::optional<LoadedDriver> driver = loadedDriver();
    if (!driver) return;
    for (int isInput = 1; isInput >= 0; --isInput) {
        const auto& table = isInput ? selection.inputs : selection.outputs;
        const int count =
            std::min<int>(isInput ? driver->numInputs : driver->numOutputs, static_cast<int>(table.size()));
        std::string items;
        for (int k = 0; k < count; ++k) {
            if (k > 0) items += ",";
            const int entry = table[static_cast<std::size_t>(k)];
            items += entry < 0 ? std::string("-") : std::to_string(entry);
        }
        IniStr(handle, driver->name + (isInput ? " IN" : " OUT"), items);
    }
}

void AppSettings::exchangeDebugLevels(IniHandle& handle, int direction) {
    const int mode = direction == kExchangeRead ? kIniRead : kIniWrite;
    struct Table {
        const char* section;
        diag::OpcodeLevelTable& levels;
        bool plugIn;
    };
    for (const Table table :
         {Table{"DebugHST", diag::hostCallLevels(), false}, Table{"DebugPLG", diag::plugCallLevels(), true}}) {
        int sectionMode = mode;
        if (direction == kExchangeWrite && table.plugIn) {
            bool allOff = true;
            for (int opcode = 0; opcode < table.levels.size(); ++opcode)
                allOff = allOff && table.levels.level(opcode) == 0;
            if (allOff) sectionMode = kIniRebuild;
        }
        OpenIni(handle, iniFileName, table.section, sectionMode);
        for (int opcode = 0; opcode < table.levels.size(); ++opcode) {
            const std::string key =
                table.plugIn ? host::EffOpcodeName(opcode, false) : host::AmOpcodeName(opcode, false);
            const std::int32_t current = table.levels.level(opcode);
            const std::string text = IniStr(handle, key, diag::levelText(current));
            if (direction == kExchangeRead) table.levels.setLevel(opcode, diag::parseLevel(text, current));
        }
    }
}

void AppSettings::exchangeFolder(IniHandle& handle, const char* key, std::string& value, bool normalise) {
    if (value == "_") {
        // "_" stands for the first VST folder and is stored as it is.
        value = IniStr(handle, key, value);
    } else {
        std::string folderValue = value;
        while (folderValue.size() > 1 && folderValue.back() == '/') folderValue.pop_back();
        value = IniStr(handle, key, RelativePath(folder, folderValue));
    }
    if (value != "_" && !value.empty()) {
        value = ExpandPath(folder, value);
        if (normalise && value.size() > 1) value = ExpandPath(folder, RelativePath(folder, value));
        while (value.size() > 1 && value.back() == '/') value.pop_back();
    }
}

void AppSettings::exchangeGroup1(IniHandle& handle, int direction) {
    const int mode = direction == kExchangeRead ? kIniRead : kIniWrite;
    const bool reading = direction == kExchangeRead;

    OpenIni(handle, iniFileName, "Audio", mode);
    outputVolumeDb = IniInt(handle, "Output Volume", outputVolumeDb);
    inputVolumeDb = IniInt(handle, "Input Volume", inputVolumeDb);
    if (reading) {
        outputVolumeDb = clampVolume(outputVolumeDb);
        inputVolumeDb = clampVolume(inputVolumeDb);
        outputVolumeGain = static_cast<float>(std::pow(10.0, outputVolumeDb / 20.0));
        inputVolumeGain = static_cast<float>(std::pow(10.0, inputVolumeDb / 20.0));
    }

    OpenIni(handle, iniFileName, "General", mode);
    exchangeFolder(handle, "Templates Folder", templatesFolder, true);
    exchangeFolder(handle, "VSTimages Folder", vstImagesFolder, true);
    exchangeFolder(handle, "VSTscan Folder", vstScanFolder, true);
    exchangeFolder(handle, "Plugin Folder", pluginFolder, true);
    exchangeFolder(handle, "InstrDef Folder", instrDefFolder, false);
    exchangeFolder(handle, "VSTprofiles Folder", vstProfilesFolder, false);
    exchangeFolder(handle, "Projects Folder", projectsFolder, false);
    exchangeFolder(handle, "Preset Folder", presetFolder, false);
    exchangeFolder(handle, "Export Folder", exportFolder, false);
    exchangeFolder(handle, "Last Project", lastProject, false);
    usePresetDir = IniBool(handle, "UsePresetDir", usePresetDir);
    textEditor = IniStr(handle, "TextEditor", textEditor);
    debug = IniBool(handle, "Debug", debug);
    writeLog = IniBool(handle, "WrLog", writeLog);
    errorLog = IniBool(handle, "ErrLog", errorLog);
    const char* const associationKeys[] = {"ext_DLL", "ext_VPRJ", "ext_VPRF", "ext_DL"};
    for (std::size_t i = 0; i < associations.size(); ++i)
        associations[i] = IniBool(handle, associationKeys[i], associations[i]);

    if (reading) {
        OpenIni(handle, iniFileName, "VSTfolders", kIniEnumerate);
        vstFolders.clear();
        for (int i = 0; i < 16; ++i) {
            const std::string entry = IniStr(handle, "", "");
            if (entry.empty()) break;
            const std::size_t separator = entry.find(kEnumSeparator);
            vstFolders.emplace_back(entry.substr(0, separator), entry.substr(separator + 1));
        }
        if (vstFolders.empty()) {
            const std::string system = platform::systemVstFolder();
            if (!system.empty()) vstFolders.emplace_back(system, "VST");
        }
        if (!vstFolders.empty()) {
            if (pluginFolder == "_") pluginFolder = vstFolders.front().first;
            if (vstScanFolder == "_") vstScanFolder = vstFolders.front().first;
        }
    } else if (!vstFolders.empty()) {
        OpenIni(handle, iniFileName, "VSTfolders", kIniClearKeys);
        for (const auto& [path, name] : vstFolders) IniStr(handle, path, name);
    }

    OpenIni(handle, iniFileName, "VST", mode);
    idleTime = IniInt(handle, "IdleTime", idleTime);
    tempo = IniInt(handle, "Tempo", tempo);
    timeSigNumerator = IniInt(handle, "TimeSigNumerator", timeSigNumerator);
    timeSigDenominator = IniInt(handle, "TimeSigDenominator", timeSigDenominator);
    useAllCpus = IniBool(handle, "UseAllCPUs", useAllCpus);
    isolateAfterFault = IniBool(handle, "IsolateAfterFault", isolateAfterFault);
    noiseFloorValue = IniInt(handle, "NoiseFloor", noiseFloorValue);
    knobMode = IniStr(handle, "KnobMode", knobMode);
    addShowEditor = IniBool(handle, "AddShowEditor", addShowEditor);

    OpenIni(handle, iniFileName, "Remote", mode);
    oscPort = IniInt(handle, "OscPort", oscPort);
    oscAddress = IniStr(handle, "OscAddress", oscAddress);
    if (reading) {
        if (oscPort < 0 || oscPort > 65535) oscPort = 0;
        if (oscAddress.empty()) oscAddress = "127.0.0.1";
    }
}

} // namespace trelvo::persist
