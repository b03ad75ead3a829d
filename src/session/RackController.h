#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/CpuMeter.h"
#include "audio/DriverList.h"
#include "diag/DiagLog.h"
#include "model/UiMessages.h"
#include "persist/AppSettings.h"
#include "presets/PresetList.h"
#include "rack/AudioEngine.h"
#include "rack/EngineControl.h"
#include "rack/MeterBallistics.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"
#include "rack/SlotEvents.h"
#include "session/PageTabs.h"
#include "session/SurfaceControl.h"

namespace trelvo::rack {

/// One row of the slot list as the window draws it.
struct RowView {
    int slot = 0;
    std::string name;   ///< "Channel/VST"
    std::string preset; ///< "Preset"
    std::string wet, dry, pan, in;
    int meterSegment = 0; ///< 0..28, mixer rows only
    int icon = 0;         ///< status icon 0..11
    char style = 'i';     ///< 'b' bold (mixer), 'n' normal (open plug-in), 'i' italic (others)
};

/// The rack's operations and its idle-timer duties, with no widget code: the main window,
/// the control surfaces, project loading, the headless program and the tests all drive
/// the rack through this one object, on the user-interface thread. What the window shows
/// is kept as plain data (rows, meter segments, texts, labels, caption).
class RackController {
public:
    /// The settings are read by the caller; the controller takes the engine's values from
    /// them (driver, tempo, time signature, output volume, IdleTime, VST folders).
    explicit RackController(persist::AppSettings& settings);
    /// The shut-down sequence: audio held, slots closed, MIDI closed, driver released.
    ~RackController();
    RackController(const RackController&) = delete;
    RackController& operator=(const RackController&) = delete;

    // ---- Start-up ----
    /// Initialises the audio driver named by the settings (or the given list's).
    void startAudio(std::vector<audio::DriverEntry> drivers = {});
    /// The buffer size and rate the settings keep for the selected driver, for its next
    /// opening.
    void applyDriverChoice();
    using MidiBackends =
        std::function<std::vector<std::unique_ptr<midi::MidiBackend>>(std::vector<std::string>& whyNot)>;
    /// Opens the MIDI layer: the system's backends, or the given ones.
    void startMidi(MidiBackends backends = {});
    /// Resolves every slot route's port name against the port table (audio held).
    void resolveSlotRoutes();
    /// The application has started: blocks are processed from now on.
    void setRunning();
    /// Clears the rack and builds an OUTPUT and a CHANNEL.
    void newRack();
    /// Closes and empties every slot (audio held around it).
    void clearRack();

    // ---- Rack operations. Thread: user interface ----
    int addSlot(SlotKind kind, bool interactive = true);
    bool deleteSlot(SlotKind kind, int index);
    /// Asks "Rename Slot" / "New slot name:" and stores the answer.
    void renameSlot(int index);
    void renameSlot(int index, const std::string& name);
    void moveUp(int index);
    void moveDown(int index);
    /// Switches a slot Off, or back on; applied at once, not through the queue.
    void switchOn(int index);
    void toggleBypass(int index) { toggle(SlotCommandCode::Bypass, index); }
    void toggleMute(int index) { toggle(SlotCommandCode::Mute, index); }
    void toggleSolo(int index) { toggle(SlotCommandCode::Solo, index); }
    /// The same by kind and KindNo (control surfaces, keys); false when there is no such slot.
    bool toggle(SlotCommandCode code, SlotKind kind, int kindNo);
    void setVolume(SlotCommandCode code, int index, int value) { racked.enqueue(code, index, value); }
    /// Sets a switch (Bypass, Mute, Solo, Off) to on or off, whatever it is now: remote
    /// commands that say what they want, so that a repeated one changes nothing.
    void setSwitch(SlotCommandCode code, int index, bool on);
    /// The master output volume in dB (kVolumeOff .. 0), kept in the settings.
    void setMasterVolume(int decibels);
    /// Selects a slot's row; the preset list follows it.
    void select(int index);
    /// Rebuilds the list, resets the block-time peaks and logs the strips' costs.
    void refreshList();
    /// A program number typed on the numeric keypad for a slot. Normal mode selects that
    /// preset (lowered by one when the program view counts from 1); MIDI mode makes entry
    /// number (from 1) of the slot's program-change list current and sends it.
    void applyTypedProgram(int slot, int number, bool midiMode);
    /// "." (direction +1) and "," (-1) on the selected slot: column 1 steps the preset;
    /// 2 wet, 3 dry, 5 input volume step one dB (up from off to -48, down past -48 to
    /// off), 4 steps the pan. Volumes and pan go through the slot command queue; the
    /// idle duties show the result.
    void stepFocusedValue(int column, int direction);
    /// Loads a plug-in library into the slot at index (-1: a new slot at the end of the
    /// rack). Returns the slot index, or -1 when the rack is full or the slot is not a
    /// plug-in slot. A library that cannot be found or opened leaves the slot in the rack
    /// with its name marked "?".
    int loadPlugin(const std::string& path, int index = -1);
    /// Plug-in resolution for one slot while the caller holds audio: finds and opens the
    /// library (index may be N, the next free slot), reads its profile, lets projectKeys
    /// read the project's keys of the slot, then restores the preset state, and after it
    /// lets projectState restore the whole state the project kept (true when it did).
    /// Without a preset file or program name, and without a kept state, the program the
    /// plug-in reports as current is selected explicitly: some plug-ins start on a state
    /// of their own while they report a program's name. True when the plug-in opened.
    /// isolated: 1 runs the plug-in in a process of its own, 0 in Trelvo's, -1 as its
    /// profile says.
    bool loadLibrary(int index, const std::string& path, const std::function<void(host::TVstPlugIn&)>& projectKeys,
                     const std::function<bool(host::TVstPlugIn&)>& projectState = {}, int isolated = -1);
    /// Loads the slot's plug-in again, in a process of its own (isolated) or in Trelvo's,
    /// with its whole state and program. False, with a message, when it did not open again.
    bool setIsolated(int index, bool isolated);
    /// "Save VSTprofile" for a slot with an open plug-in.
    bool savePluginProfile(int index);
    /// Where a library named in a project is found: a bare file name in the program's
    /// folder, through its profile, or in the VST folders; other paths as they are.
    /// Empty when it is found nowhere.
    std::string resolveLibrary(const std::string& path) const;

    /// Holds audio for a structural change (the slots' virtual ports are released), and
    /// lets it go again (numbers, buffers and ports rebuilt).
    void holdAudio();
    void releaseAudio();
    /// Rebuilds every row of the list.
    void rebuildRows();

    // ---- Projects ----
    /// Clears the rack and builds an OUTPUT and a CHANNEL; the project is "untitled".
    void newProject();
    /// Loads a project; on success "Last Project" and the project name follow it.
    bool openProject(const std::string& path);
    /// Saves to "Last Project" when the project has a name and that file exists (nothing
    /// when it no longer exists); otherwise "Save project as".
    bool saveProject();
    /// Asks for a path (askSavePath) and saves there.
    bool saveProjectAs();
    bool saveProjectTo(const std::string& path);
    /// Starts around a plug-in library, or a profile standing for one: the template the
    /// profile names, "DLL-template.vprj", or a default rack with the plug-in.
    void startWithLibrary(const std::string& path);
    /// A file a second start of the program handed over. A project opens (and becomes
    /// "Last Project"). A library, or a profile standing for the library of its name beside
    /// it: in DLL template mode the rack starts again around it; else it replaces the
    /// template slot's plug-in, or goes into the first free slot, and that slot is
    /// selected.
    struct Handed {
        bool project = false; ///< the file was taken for a project
        bool opened = false;  ///< and it opened, or the library loaded
        int slot = -1;        ///< the slot that took a library
    };
    Handed openHandedFile(const std::string& file);
    /// The window state a project keeps.
    struct Layout {
        bool maximized = false;
        int x = 10, y = 10, width = 800, height = 550;
        int listSplit = 100, lowerSplit = 80;
        char parameterDock = 'd';
    } layout;
    /// The page tabs and the current page ("Tabs" and "curTab" of a project).
    PageTabs pages;
    int scenes = 0;             ///< "NrOfScenes", kept and written back
    bool loading = false;       ///< a project is being loaded
    int templateSlot = -1;      ///< the slot that holds (or held) "%dll.dll"
    std::string pendingLibrary; ///< DLL template mode: the library that replaces "%dll.dll"
    std::string pendingProfile; ///< DLL template mode started from a profile: that profile
    bool libraryReplacedTemplate = false;

    /// A digest of what a project keeps of the rack (slots, names, switches, volumes,
    /// libraries, programs): it differs from the one taken at the last open or save when
    /// there is something to save. Plug-in parameters are not in it.
    std::uint64_t stateDigest() const;
    bool isDirty() const { return stateDigest() != savedDigest; }
    /// The rack as it is now counts as saved.
    void markSaved() { savedDigest = stateDigest(); }

    // ---- Idle duties. Thread: user interface, every "IdleTime" ms ----
    /// Duties of the layers above (remote control, session managers) run after every idle
    /// tick while audio is allowed. The id removes one again.
    int addIdleDuty(std::function<void()> duty);
    void removeIdleDuty(int id);
    /// One tick of the idle timer. While audio is held the duties pause (the meters
    /// freeze) and only the posted messages are handled.
    void idleTick();
    /// True while audio is allowed: the idle duties run.
    bool idleTimerEnabled() const noexcept { return idleEnabled; }
    /// The timer period: "IdleTime", at most 333 ms.
    int idlePeriodMs() const noexcept { return std::min(settings.idleTime, 333); }
    /// Handles the posted messages (driver notices, program changes, automation, display
    /// updates). Every idle tick calls it.
    void handleMessages();

    // ---- What the window shows ----
    std::vector<RowView> rows;
    int selected = 0;
    std::string transportText;
    bool firstBeatVisible = true;
    std::string cpuText;
    /// The driver's xruns since the start ("xruns: 3, last 21:14:05"), how many, and the
    /// strips that take most of the block ("Synth 41%  Reverb 12%").
    std::string xrunText, loadsText;
    std::uint64_t xrunCount = 0;
    std::string stateLabel1, stateLabel2;
    /// The same device state in words, for a terminal ("audio: a block takes 0.02 ms on
    /// average (0% of its 5.33 ms), ...; MIDI: no devices; processors 3% 1%").
    std::string stateText;
    std::string caption = "untitled";
    std::string projectName = "untitled";
    std::string slotLabel; ///< index + ": " + name after a rename
    /// A slot's title: the plug-in's id, name and current program, else the slot name.
    std::string slotTitle(int index) const;

    // ---- Parts the controller owns ----
    Rack& rack() noexcept { return racked; }
    AudioEngine& engine() noexcept { return audioEngine; }
    audio::EngineControl& control() noexcept { return engineControl; }
    midi::MidiLayer& midi() noexcept { return *midiLayer; }
    UiMessageQueue& messages() noexcept { return messageQueue; }
    presets::PresetList& presets() noexcept { return *presetList; }
    persist::AppSettings& appSettings() noexcept { return settings; }
    SurfaceControl& surface() noexcept { return *surfaceControl; }

    // ---- Seams the later parts fill ----
    /// The slots' MIDI ports, released before a structural change and assigned again after
    /// (the MIDI layer's slot ports).
    std::function<void()> releaseSlotPorts;
    std::function<void()> rebuildSlotPorts;
    /// Command 10: refresh one parameter line of a slot.
    std::function<void(int slot, int parameter)> refreshParameter;
    /// Tells the control surfaces (code, value).
    std::function<void(int code, int value)> surfaceNotice = [](int, int) {};
    /// A channel's meter for the control surfaces: KindNo, shown level, clip countdown.
    std::function<void(int kindNo, int level, int clipCountdown)> surfaceMeter = [](int, int, int) {};
    /// Shows a message box (the window's); without a window the text goes to the error log.
    std::function<void(const std::string& text)> showMessage = [](const std::string& text) {
        diag::hookedLogError(text);
    };
    /// Asks for a file to save a project to (title, proposed path); empty when cancelled.
    std::function<std::string(const std::string& title, const std::string& proposed)> askSavePath;
    /// Asks for a new slot name (caption, prompt, default); false when cancelled.
    std::function<bool(const std::string& caption, const std::string& prompt, std::string& text)> askText;

    /// The transport text for a position: bar, beat in bar and ppqPos x 1000.
    static std::string transportTextOf(double ppqPos, int numerator, int denominator, int* beatInBar = nullptr);

    /// How long one tick's idle calls of plug-ins and their editors may take before the
    /// rest wait for the next tick, in milliseconds.
    static constexpr std::uint32_t kPlugInIdleBudgetMs = 20;

    /// Idle ticks counted since start.
    std::uint32_t ticks() const noexcept { return racked.host().idleTick.load(); }

private:
    void toggle(SlotCommandCode code, int index);
    void compact();
    void moveBlock(int from, int count, int to);
    void renumber();
    RowView rowOf(int index) const;
    void serveCommandResults();
    void updateMeters();
    void updateTransport();
    void slowDuties();
    void isolationDuties();
    void updateDeviceState(const std::string& load);
    std::string findInVstFolders(const std::string& fileName) const;
    std::string profileLibraryPath(const std::string& path) const;

    bool readProfile(host::TVstPlugIn& slot);
    /// True when it selected a program or loaded a preset file.
    bool restorePresetState(int index);
    bool holdsInstrument(const host::TVstPlugIn& slot) const;
    void resumeIfSuspended(host::TVstPlugIn& slot);

    persist::AppSettings& settings;
    Rack racked;
    AudioEngine audioEngine{racked};
    UiMessageQueue messageQueue;
    audio::EngineControl engineControl{racked, audioEngine, messageQueue};
    std::unique_ptr<midi::MidiLayer> midiLayer;
    SlotEventHandlers slotEvents{racked, messageQueue};
    std::unique_ptr<presets::PresetList> presetList;
    std::unique_ptr<SurfaceControl> surfaceControl;
    audio::CpuMeter cpuMeter;
    std::array<MeterBallistics, kMaxSlots> meters{};
    MidiBackends midiBackends;
    bool inTick = false;
    bool idleEnabled = false;
    bool cpuMeterWorks = true;
    int slowCounter = 0;
    int nextIdleSlot = 0; ///< where the plug-ins' idle calls start on the next tick
    long long lastBeat = -1;
    std::uint32_t beatHiddenAt = 0;
    std::uint64_t savedDigest = 0;
    std::vector<std::pair<int, std::function<void()>>> idleDuties;
    int nextDutyId = 1;
};

} // namespace trelvo::rack
