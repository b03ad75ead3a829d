#include "session/PreferencesEditor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/DriverSettings.h"
#include "audio/TASIOHost.h"
#include "diag/DiagLog.h"
#include "diag/OpcodeLevels.h"
#include "persist/AppSettings.h"
#include "persist/ChannelSelection.h"
#include "persist/IniFile.h"
#include "persist/PathForms.h"
#include "platform/FileAssociations.h"
#include "platform/TrelvoHome.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"
#include "session/RackController.h"

namespace trelvo::rack {

namespace {

constexpr int kMaxVstFolders = 16;

bool holdsControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

/// The device rows as the sections "MIDIinputs" and "MIDIoutputs" keep them: device name,
/// port name.
void writeDeviceSection(persist::IniHandle& handle, const std::string& file, const char* section,
                        const std::vector<PreferencesEditor::DeviceRow>& present,
                        const std::vector<PreferencesEditor::DeviceRow>& absent) {
    persist::OpenIni(handle, file, section, persist::kIniClearKeys);
    for (const auto& row : present)
        if (!row.port.empty()) persist::IniStr(handle, row.device, row.port);
    for (const auto& row : absent)
        if (!row.port.empty()) persist::IniStr(handle, row.device, row.port);
}

platform::Association associationOf(int box) {
    switch (box) {
    case PreferencesEditor::kProjects: return platform::Association::Projects;
    case PreferencesEditor::kProfiles: return platform::Association::Profiles;
    case PreferencesEditor::kPlugins2: return platform::Association::Plugins2;
    default: return platform::Association::Plugins;
    }
}

} // namespace

PreferencesEditor::PreferencesEditor(RackController& controller) : rack(controller) {
    const persist::AppSettings& settings = rack.appSettings();
    midi::MidiLayer& midi = rack.midi();

    statusBar = settings.statusBar;
    useAllCpus = initialUseAllCpus = settings.useAllCpus;
    isolateAfterFault = settings.isolateAfterFault;
    // The log switches and associations as the settings file keeps them.
    debug = settings.debug;
    writeLog = settings.writeLog;
    errorLog = settings.errorLog;
    associations = initialAssociations = settings.associations;
    textEditor = settings.textEditor;
    projectsFolder = settings.projectsFolder;
    profilesFolder = settings.vstProfilesFolder;
    instrDefFolder = settings.instrDefFolder;
    imagesFolder = settings.vstImagesFolder;
    templatesFolder = settings.templatesFolder;

    const std::vector<std::string>& inputNames = midi.inputDeviceNames();
    for (int i = 0; i < static_cast<int>(inputNames.size()); ++i)
        inputs.push_back({inputNames[static_cast<std::size_t>(i)], i < midi.ports().numInputs ? midi.portName(i) : ""});
    const std::vector<std::string> outputNames = midi.outputDeviceNames();
    for (int i = 0; i < static_cast<int>(outputNames.size()); ++i)
        outputs.push_back(
            {outputNames[static_cast<std::size_t>(i)], i < midi.numOutputPorts() ? midi.outputPort(i).alias : ""});
    for (const auto& [device, alias] : midi.absentInputDevices()) absentInputs.push_back({device, alias});
    for (const auto& [device, alias] : midi.absentOutputDevices()) absentOutputs.push_back({device, alias});
    initialInputs = inputs;
    initialOutputs = outputs;
    defaultPort = midi.defaultPortName;

    driver = settings.asioDriver;
    if (const audio::TASIOHost* host = rack.control().host()) {
        for (const audio::DriverEntry& entry : host->drivers()) drivers.push_back(entry.name);
        if (host->ready()) {
            for (const audio::AsioChannelInfo& info : host->inputInfos) inputChannelNames.emplace_back(info.name);
            for (const audio::AsioChannelInfo& info : host->outputInfos) outputChannelNames.emplace_back(info.name);
        }
    }
    outputChannel = settings.outputChannel;
    inputChannel = settings.inputChannel;
    const persist::ChannelSelection& selection = persist::channelSelection();
    for (std::size_t k = 0; k < inputMap.size(); ++k) {
        inputMap[k] = selection.inputs[k];
        outputMap[k] = selection.outputs[k];
    }
    outputVolumeDb = settings.outputVolumeDb;
    inputVolumeDb = settings.inputVolumeDb;

    for (const auto& [folder, name] : settings.vstFolders) vstFolders.push_back({name, folder});
    initialFolders = vstFolders;
    linearKnobs = persist::knobModeNumber(settings.knobMode) == 2;
    showEditorWhenAdding = settings.addShowEditor;

    for (int opcode = 0; opcode < diag::hostCallLevels().size(); ++opcode)
        hostLevels.push_back(diag::hostCallLevels().level(opcode));
    for (int opcode = 0; opcode < diag::plugCallLevels().size(); ++opcode)
        plugLevels.push_back(diag::plugCallLevels().level(opcode));
    verbose = settings.debugVerbose;
}

void PreferencesEditor::clickAssociation(int box, bool on) {
    if (box < 0 || box >= kAssociations) return;
    associations[static_cast<std::size_t>(box)] = on;
    clicked[static_cast<std::size_t>(box)] = true;
}

std::string PreferencesEditor::portNameProblem(const std::string& name) {
    if (name.size() > 31) return "\"" + name + "\" is too long for a port name (31 characters at most).";
    if (holdsControlCharacters(name) || name.find_first_of("{}(") != std::string::npos)
        return "Don't use \"{\",\"}\" or \"(\" in port names.";
    if (persist::sameName(name, "DEFAULT") || name.rfind("SlotID-", 0) == 0 || name.rfind("no ports ", 0) == 0)
        return "\"" + name + "\" is a name Trelvo keeps for itself.";
    return {};
}

std::string PreferencesEditor::renamePort(bool input, int row, const std::string& name) {
    std::vector<DeviceRow>& rows = input ? inputs : outputs;
    if (row < 0 || row >= static_cast<int>(rows.size())) return "Select a device first.";
    const std::string wanted(persist::trimmed(name));
    if (!wanted.empty()) {
        std::string why = portNameProblem(wanted);
        if (!why.empty()) return why;
        // Names are how routes find their ports: two devices cannot share one.
        for (const std::vector<DeviceRow>* list : {&rows, input ? &absentInputs : &absentOutputs})
            for (std::size_t r = 0; r < list->size(); ++r)
                if ((list != &rows || static_cast<int>(r) != row) && persist::sameName((*list)[r].port, wanted))
                    return "\"" + wanted + "\" is already the port name of \"" + (*list)[r].device + "\".";
        if (input)
            for (const auto& entry : rack.midi().virtualPorts())
                if (persist::sameName(entry.name, wanted)) return "\"" + wanted + "\" is the name of a virtual port.";
    }
    rows[static_cast<std::size_t>(row)].port = wanted;
    return {};
}

bool PreferencesEditor::removeAbsent(bool input, int row) {
    std::vector<DeviceRow>& rows = input ? absentInputs : absentOutputs;
    if (row < 0 || row >= static_cast<int>(rows.size())) return false;
    rows.erase(rows.begin() + row);
    return true;
}

std::vector<std::string> PreferencesEditor::defaultPortChoices() const {
    std::vector<std::string> names;
    for (const auto& entry : rack.midi().virtualPorts())
        if (!entry.name.empty() && !midi::isSurfacePortName(entry.name)) names.push_back(entry.name);
    return names;
}

std::string PreferencesEditor::informationLine() const {
    const audio::TASIOHost* host = rack.control().host();
    if (host == nullptr || !host->ready() || host->sampleRate <= 0) return "ASIO not properly initialized";
    char delay[32];
    std::snprintf(delay, sizeof delay, "%.1f", std::max(host->outputLatency, 0) * 1000.0 / host->sampleRate);
    return "SampleRate: " + std::to_string(static_cast<long>(host->sampleRate)) +
           ",   BufferSize: " + std::to_string(host->bufferSize) + ",   Delay: " + delay + "ms";
}

std::string PreferencesEditor::renameFolder(int row, const std::string& name) {
    if (row < 0 || row >= static_cast<int>(vstFolders.size())) return "Select a folder first.";
    const std::string wanted(persist::trimmed(name));
    if (holdsControlCharacters(wanted) || wanted.find_first_of("{}(") != std::string::npos)
        return "Don't use \"{\",\"}\" or \"(\" in FolderNames.";
    for (std::size_t r = 0; r < vstFolders.size(); ++r)
        if (static_cast<int>(r) != row && !wanted.empty() && persist::sameName(vstFolders[r].name, wanted))
            return "\"" + wanted + "\" is already the name of another folder.";
    vstFolders[static_cast<std::size_t>(row)].name = wanted;
    return {};
}

bool PreferencesEditor::parseLevelText(const std::string& text, std::int32_t& level) {
    const std::string value(persist::trimmed(text));
    if (persist::sameName(value, "ALL") || persist::sameName(value, "A")) {
        level = diag::kLevelAll;
        return true;
    }
    if (persist::sameName(value, "off") || value.empty()) {
        level = 0;
        return true;
    }
    std::int32_t number = 0;
    if (!persist::parseWholeNumber(value, number) || number < 0) return false;
    level = number;
    return true;
}

std::vector<std::string> PreferencesEditor::apply() {
    std::vector<std::string> problems;
    persist::AppSettings& settings = rack.appSettings();
    midi::MidiLayer& midi = rack.midi();
    audio::EngineControl& control = rack.control();
    control.setAllowed(audio::kAllowedPause);

    // 1. The channel maps.
    persist::ChannelSelection& selection = persist::channelSelection();
    bool mapsChanged = false;
    for (std::size_t k = 0; k < inputMap.size(); ++k) {
        const auto in = static_cast<std::int8_t>(inputMap[k] < 0 ? -1 : std::min(inputMap[k], 127));
        const auto out = static_cast<std::int8_t>(outputMap[k] < 0 ? -1 : std::min(outputMap[k], 127));
        mapsChanged = mapsChanged || selection.inputs[k] != in || selection.outputs[k] != out;
        selection.inputs[k] = in;
        selection.outputs[k] = out;
    }

    // 2. The MIDI port names: a renamed port takes the routes that read it along.
    const bool midiChanged = [&] {
        const auto same = [](const std::vector<DeviceRow>& a, const std::vector<DeviceRow>& b) {
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
                       return x.device == y.device && x.port == y.port;
                   });
        };
        std::vector<DeviceRow> absentIn, absentOut;
        for (const auto& [device, alias] : midi.absentInputDevices()) absentIn.push_back({device, alias});
        for (const auto& [device, alias] : midi.absentOutputDevices()) absentOut.push_back({device, alias});
        return !same(inputs, initialInputs) || !same(outputs, initialOutputs) || !same(absentInputs, absentIn) ||
               !same(absentOutputs, absentOut) || defaultPort != midi.defaultPortName;
    }();
    if (midiChanged) {
        // Old name to new name from the names the dialog began with, so that renames that
        // chain (B to C, then A to B) or swap move each route once, to its own port.
        const auto renamesOf = [](const std::vector<DeviceRow>& before, const std::vector<DeviceRow>& after) {
            std::vector<std::pair<std::string, std::string>> renames;
            for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
                if (!before[i].port.empty() && !after[i].port.empty() && before[i].port != after[i].port)
                    renames.emplace_back(before[i].port, after[i].port);
            return renames;
        };
        const auto renamed = [](const std::vector<std::pair<std::string, std::string>>& renames, std::string& name) {
            for (const auto& [old, now] : renames)
                if (persist::sameName(name, old)) {
                    name = now;
                    return;
                }
        };
        const auto inputRenames = renamesOf(initialInputs, inputs);
        const auto outputRenames = renamesOf(initialOutputs, outputs);
        persist::IniHandle handle;
        writeDeviceSection(handle, settings.fileName(), "MIDIinputs", inputs, absentInputs);
        writeDeviceSection(handle, settings.fileName(), "MIDIoutputs", outputs, absentOutputs);
        if (!persist::CloseIni(handle)) {
            // MIDI opens from the file: without it nothing may follow the new names.
            problems.push_back("The MIDI port names could not be written to " + settings.fileName() + ".");
        } else {
            for (auto& entry : midi.virtualPorts()) {
                for (int r = 0; r < entry.routes.count; ++r)
                    renamed(inputRenames, entry.routes.routes[static_cast<std::size_t>(r)].portName);
                renamed(outputRenames, entry.outName);
            }
            for (int s = 0; s < rack.rack().numSlots(); ++s) {
                midi::SlotMidi& slot = *rack.rack().slot(s).midi;
                for (int r = 0; r < slot.routes.count; ++r)
                    renamed(inputRenames, slot.routes.routes[static_cast<std::size_t>(r)].portName);
                renamed(outputRenames, slot.outputPortName);
            }
            midi.defaultPortName = defaultPort;
            settings.defaultPort = defaultPort;
            midi.writeVirtualPorts(handle);
            persist::CloseIni(handle);
            // MIDI opens again on the names as written.
            midi.setMIDI(midi::iClose | midi::iHalt);
            midi.setMIDI(midi::iOpen);
            rack.resolveSlotRoutes();
            control.setAllowed(audio::kAllowedPause);
        }
    }

    // 3. The VST folders: unnamed rows are named after their row; none left gives the
    // system's folder.
    std::vector<std::pair<std::string, std::string>> folders;
    for (std::size_t r = 0; r < vstFolders.size() && static_cast<int>(r) < kMaxVstFolders; ++r) {
        if (vstFolders[r].folder.empty()) continue;
        const std::string name = vstFolders[r].name.empty() ? "VST(" + std::to_string(r + 1) + ")" : vstFolders[r].name;
        folders.emplace_back(vstFolders[r].folder, name);
    }
    if (folders.empty()) {
        // The system's folder, or where Debian puts plug-ins when none exists yet.
        const std::string system = platform::systemVstFolder();
        folders.emplace_back(system.empty() ? std::string("/usr/lib/vst") : system, "VST");
    }
    // Rows left as they were change nothing (a file without folders keeps its default).
    const bool foldersEdited =
        vstFolders.size() != initialFolders.size() ||
        !std::equal(vstFolders.begin(), vstFolders.end(), initialFolders.begin(),
                    [](const FolderRow& a, const FolderRow& b) { return a.name == b.name && a.folder == b.folder; });
    if (foldersEdited) {
        settings.vstFolders = folders;
        settings.pluginFolder = folders.front().first;
    }

    // 4. The debug levels.
    for (int opcode = 0; opcode < static_cast<int>(hostLevels.size()); ++opcode)
        diag::hostCallLevels().setLevel(opcode, hostLevels[static_cast<std::size_t>(opcode)]);
    for (int opcode = 0; opcode < static_cast<int>(plugLevels.size()); ++opcode)
        diag::plugCallLevels().setLevel(opcode, plugLevels[static_cast<std::size_t>(opcode)]);

    // 5. Verbose, knobs, the editor switch, the master volumes, the status bar, the CPUs.
    settings.debugVerbose = verbose;
    const std::string knobs = linearKnobs ? "Linear" : "CircularRelativ";
    if (knobs != settings.knobMode) {
        settings.knobMode = knobs;
        for (int s = 0; s < rack.rack().numSlots(); ++s)
            if (rack.rack().slot(s).PlugLoaded.load())
                rack.rack().slot(s).SetEditKnobMode(persist::knobModeNumber(knobs));
    }
    settings.addShowEditor = showEditorWhenAdding;
    settings.outputVolumeDb = std::clamp(outputVolumeDb, -49, 0);
    settings.inputVolumeDb = std::clamp(inputVolumeDb, -49, 0);
    settings.outputVolumeGain = static_cast<float>(std::pow(10.0, settings.outputVolumeDb / 20.0));
    settings.inputVolumeGain = static_cast<float>(std::pow(10.0, settings.inputVolumeDb / 20.0));
    rack.engine().outputVolume = settings.outputVolumeGain;
    settings.statusBar = statusBar;
    settings.isolateAfterFault = isolateAfterFault;
    if (useAllCpus != initialUseAllCpus) {
        settings.useAllCpus = useAllCpus;
        rack.engine().useAllCpus = useAllCpus;
    }

    // 6. Folders and the text editor.
    settings.textEditor = textEditor;
    settings.projectsFolder = projectsFolder;
    settings.vstProfilesFolder = profilesFolder;
    settings.instrDefFolder = instrDefFolder;
    settings.vstImagesFolder = imagesFolder;
    settings.templatesFolder = templatesFolder;

    // The log switches take effect at once.
    settings.debug = debug;
    settings.writeLog = writeLog;
    settings.errorLog = errorLog;
    settings.applyLogSwitches();
    control.setAllowed(audio::kAllowedResume);

    // The driver: another one opens; a control-panel choice applies to the one in use.
    const bool driverChanged = !driver.empty() && driver != settings.asioDriver;
    if (driverChanged) {
        const auto found = std::find(drivers.begin(), drivers.end(), driver);
        if (found != drivers.end()) {
            settings.asioDriver = driver;
            // The new driver's own channel maps and control-panel choice, not the old one's.
            settings.readDriverKeys();
            rack.applyDriverChoice();
            mapsChanged = false;
            control.ASIOchange(static_cast<int>(found - drivers.begin()));
            if (!control.hostReady()) problems.push_back("The driver \"" + driver + "\" did not start.");
        }
    }
    if (bufferSize > 0 || sampleRate > 0) {
        control.controlPanel(bufferSize, sampleRate);
        const audio::DriverSettings chosen = audio::settingsFor(settings.asioDriver);
        settings.driverBufferSize = bufferSize > 0 ? bufferSize : chosen.bufferSize;
        settings.driverSampleRate = sampleRate > 0 ? sampleRate : chosen.sampleRate;
    }
    settings.outputChannel = outputChannel;
    settings.inputChannel = inputChannel;
    // New channel maps take effect as the driver opens again; audio comes back with it.
    if (mapsChanged && !driverChanged && control.hostReady()) control.handleNotice(audio::kNoticeReset);

    // 7. The associations the user clicked.
    platform::AssociationContext context;
    context.program = platform::executablePath();
    // "xdg-open" opens a file with its default program: for Trelvo's own files, Trelvo.
    context.textEditor = textEditor == "xdg-open" ? std::string() : textEditor;
    context.title = "Trelvo";
    context.stateFolder = platform::trelvoHome();
    for (int box = 0; box < kAssociations; ++box) {
        const auto b = static_cast<std::size_t>(box);
        if (!clicked[b] || associations[b] == initialAssociations[b]) continue;
        if (!platform::associationAvailable(associationOf(box))) {
            associations[b] = false;
            continue;
        }
        std::string error;
        if (platform::setAssociation(associationOf(box), associations[b], context, error)) continue;
        problems.push_back(error);
        diag::hookedLogError("file association: " + error);
        associations[b] = initialAssociations[b];
    }
    settings.associations = associations;

    // 8. The settings file.
    if (!settings.writeAll())
        problems.emplace_back("The settings could not be written to " + settings.fileName() + ".");

    // 9. Folders that must exist.
    for (const std::string& folder : {settings.vstProfilesFolder, settings.instrDefFolder, settings.vstImagesFolder})
        if (!folder.empty() && !platform::makeDirectories(folder))
            problems.push_back("The folder " + folder + " could not be created.");
    return problems;
}

} // namespace trelvo::rack
