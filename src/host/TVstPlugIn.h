#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/PlugInEvents.h"
#include "model/SlotRecord.h"
#include "platform/DynamicLibrary.h"
#include "platform/FaultGuard.h"
#include "vst/VstAbi.h"

namespace trelvo::host {

class TVstHost;
class IsolatedEffect;

/// Returned by Dispatch when a call was refused or the plug-in failed inside it.
inline constexpr VstIntPtr kDispatchRefused = -99999;

/// One rack slot with its plug-in side: the loaded library, the effect, and the single,
/// guarded path through which every call into the plug-in goes.
///
/// Every call into the plug-in (dispatcher, parameters, both process forms) goes through
/// the virtual operations of this class, so that another implementation of a slot (for
/// example a plug-in running in a process of its own) can stand in without touching the
/// engine or any caller. Callers read the effect's facts through the accessors below, never
/// through the AEffect record directly.
///
/// Each call runs with floating-point exceptions masked and inside the fault guard: a C++
/// exception is absorbed; a hardware fault also quarantines the slot, after which no call
/// reaches the plug-in again and its library is never unmapped.
class TVstPlugIn : public rack::SlotRecord, public PlugInEvents {
public:
    TVstPlugIn(TVstHost& host, int slotIdx);
    /// Closes an open editor and unloads; sends no effClose.
    ~TVstPlugIn() override;

    // ---- The plug-in interface (virtual, see the class comment) ----

    /// Thread: any. Returns true when an effect was present.
    virtual bool SetParameter(int index, float value);
    /// Thread: any. 0.0 without an effect.
    virtual float GetParameter(int index);
    /// The accumulating form. Returns false when the plug-in failed inside the call.
    /// Thread: audio.
    virtual bool Process(float** inputs, float** outputs, int sampleFrames) noexcept;
    /// The replacing form. Returns false when the plug-in failed inside the call.
    /// Thread: audio.
    virtual bool ProcessReplacing(float** inputs, float** outputs, int sampleFrames) noexcept;
    /// The single path to the dispatcher. kDispatchRefused when the slot holds no open
    /// plug-in, is quarantined, or the plug-in failed inside the call. Thread: any.
    virtual VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, double opt) noexcept;
    /// Loads DllPath and calls its entry point. Thread: user interface, audio held.
    virtual bool Load();
    /// Frees the library (kept mapped when the slot is quarantined). Thread: user interface.
    virtual void Unload();

    /// Loads when needed, checks the magic, and opens the plug-in. Thread: user interface.
    void Open();
    /// Closes the editor and the plug-in; the library stays loaded.
    void Close();
    /// Opens (true) or closes (false) when the value differs from Active.
    void SetActive(bool value);

    // ---- Thin wrappers, one Dispatch each ----
    void SetProgram(int program);
    int GetProgram();
    void SetProgramName(const std::string& name);
    std::string GetProgramName();
    std::string GetParamLabel(int index);
    std::string GetParamDisplay(int index);
    std::string GetParamName(int index);
    void SetSampleRate(double rate);
    void SetBlockSize(int frames);
    void MainsChanged(bool on);
    /// The editor rectangle; all zero when the plug-in gives none.
    ERect EditGetRect();
    VstIntPtr EditOpen(void* parentWindow);
    void EditClose();
    VstIntPtr EditIdle();
    VstIntPtr Identify();
    /// The plug-in's chunk (one program or the bank); the data stays the plug-in's.
    VstIntPtr GetChunk(bool isPreset, void*& data);
    VstIntPtr SetChunk(bool isPreset, void* data, VstIntPtr size);
    VstIntPtr ProcessEvents(VstEvents* events);
    VstIntPtr String2Parameter(int index, const char* text);
    VstIntPtr GetProgramNameIndexed(int category, int index, char* buffer);
    VstIntPtr GetInputProperties(int index, VstPinProperties& record);
    VstIntPtr GetOutputProperties(int index, VstPinProperties& record);
    int GetPlugCategory();
    bool SetBypass(bool on);
    std::string GetEffectName();
    std::string GetVendorString();
    std::string GetProductString();
    int GetVendorVersion();
    VstIntPtr VendorSpecific(int index, VstIntPtr value, void* ptr, float opt);
    VstIntPtr CanDo(const char* text);
    int GetTailSize();
    VstIntPtr Idle();
    int GetVstVersion();
    bool EditKeyDown(int character, int virtualKey, int modifiers);
    bool EditKeyUp(int character, int virtualKey, int modifiers);
    void SetEditKnobMode(int mode);
    VstIntPtr GetMidiProgramName(int channel, MidiProgramName& record);
    VstIntPtr GetMidiProgramCategory(MidiProgramCategory& record);
    void BeginSetProgram();
    void EndSetProgram();
    VstIntPtr BeginLoadBank(VstPatchChunkInfo& info);
    VstIntPtr BeginLoadProgram(VstPatchChunkInfo& info);

    // ---- Facts of the loaded effect (0 or false without one) ----
    // ---- Preset files (FXP programs and FXB banks). Thread: user interface ----
    /// Loads one program into the current program. False, with an error line, on any failure.
    bool LoadPreset(const std::string& fileName);
    /// Writes the current program. mode 0: name from the plug-in, form by the chunk flag;
    /// 1: parameter form always; 2: name from the file name, form by the chunk flag.
    /// False, with an error line, when nothing was written.
    bool SavePreset(const std::string& fileName, int mode);
    bool LoadBank(const std::string& fileName);
    bool SaveBank(const std::string& fileName, bool forceParams);
    /// The plug-in's whole state as it plays now, without changing it: a plug-in whose
    /// programs are chunks writes its bank chunk (an FXB file), any other plug-in its
    /// current program in parameter form (an FXP file: the program's name and every
    /// parameter value). No program is selected on the way. False, with an error line,
    /// when nothing was written.
    bool SaveState(const std::string& fileName);
    /// Loads a file written by SaveState and leaves program current: a chunk plug-in is
    /// switched only when its chunk left another program current; a parameter plug-in has
    /// program selected, then the file's name and values set into it. A program outside
    /// the plug-in's range selects nothing. False, with an error line, when the file did
    /// not load.
    bool LoadState(const std::string& fileName, int program);
    /// One program in parameter form (56-byte header and big-endian values) into record.
    bool FillProgramRecord(int program, const std::string& fallbackName, std::string& record, bool useFallbackName);
    /// Lets a parameter-form program load into a plug-in whose programs are chunks.
    static std::atomic<bool> DeveloperSwitch;

    bool hasEffect() const noexcept { return PVstEffect.load(std::memory_order_acquire) != nullptr; }
    VstInt32 effectFlags() const noexcept;
    bool isSynth() const noexcept { return (effectFlags() & effFlagsIsSynth) != 0; }
    bool canReplacing() const noexcept { return (effectFlags() & effFlagsCanReplacing) != 0; }
    bool hasEditor() const noexcept { return (effectFlags() & effFlagsHasEditor) != 0; }
    bool programsAreChunks() const noexcept { return (effectFlags() & effFlagsProgramChunks) != 0; }
    int effectNumParams() const noexcept;
    int effectNumPrograms() const noexcept;
    int effectNumInputs() const noexcept;
    int effectNumOutputs() const noexcept;
    VstInt32 effectUniqueID() const noexcept;
    VstInt32 effectVersion() const noexcept;
    int effectInitialDelay() const noexcept;
    bool isQuarantined() const noexcept { return Quarantined.load(std::memory_order_acquire); }
    /// Why the slot was quarantined ("SIGSEGV in processReplacing"); empty while it is not.
    /// Thread: any.
    std::string quarantineReason() const;

    /// "007" for 7, "042" for 42, "123" for 123, "00-1" for -1.
    static std::string programText(int program);
    /// Why the last preset or bank file operation that failed on this thread failed, in
    /// words for the user ("the file is for another plug-in"). Thread: user interface.
    static const std::string& lastPresetFailure();

    TVstHost& host;

    // ---- Hosting state ----
    platform::DynamicLibrary FDLLHandle;
    VstPluginMainProc FMainFunction = nullptr;
    std::atomic<AEffect*> PVstEffect{nullptr};
    std::string DllPath;
    std::atomic<bool> Active{false};
    std::atomic<bool> NeedIdle{false};
    std::atomic<bool> PlugLoaded{false};
    std::atomic<bool> Opened{false};
    std::atomic<bool> Opening{false};
    std::atomic<bool> EditorOpen{false};
    std::atomic<bool> EditorShown{false};
    /// The last effMainsChanged sent was 1 (resumed). The engine's own reason for a suspended
    /// plug-in, a slot switched Off, is the slot record's `suspended`.
    std::atomic<bool> mainsOn{false};
    std::atomic<bool> Quarantined{false};
    /// Run the plug-in in a worker process of its own; taken when the library is loaded.
    std::atomic<bool> Isolated{false};
    /// The worker side of an isolated slot while one is loaded.
    std::unique_ptr<IsolatedEffect> isolation;
    /// The user was told about the quarantine (user-interface thread).
    bool quarantineAnnounced = false;
    /// Why the last Load or Open failed, in words for the user ("it has no VST 2.x entry
    /// point"); empty after one that worked.
    std::string LoadFailure;
    bool CanBypass = false;
    bool CanReceiveMidi = false;
    bool NoResize = false;
    std::uint8_t ReplaceOrAccumulate = 0;
    std::uint8_t ProcessLevel = 0;
    std::uint8_t AutomationState = 0;
    std::int32_t NumPrograms = -1;
    std::int32_t VstVersion = -1;
    std::uint8_t PlugCategory = 0;
    std::string UniqueIdText;
    std::int32_t CurProgram = 0;
    std::string CurProgramText;
    std::string CurProgramName;
    std::string EffectName;
    std::string PresetFileName;
    std::array<std::int32_t, 10> AltUniqueIds{};
    /// Pin names from the plug-in's pin properties, else "iN-1" and "oUT-1" and so on.
    std::vector<std::string> InputPinNames, OutputPinNames;

    // ---- Editor window state kept for the project ----
    int EditorLeft = 0, EditorTop = 0;
    int EditorTab = 0;          ///< page tab the editor belongs to
    int EditorStack = 0;        ///< stacking order of the editor window (1 = front), 0 when none
    bool EditorKeyRead = false; ///< a project gave the editor state (kept for a missing library)

    // ---- Plug-in profile ----
    /// One row of the parameter map: a plug-in parameter shown under a host row.
    struct ParamMapEntry {
        int index = -1;
        double minimum = 0.0, maximum = 1.0, step = 0.001;
        std::string name;
    };
    std::string DllTemplate; ///< "DLLtemplate": the template project for DLL template mode
    std::string MidiIns;     ///< "MidiIns": its instrument definition (file, instrument, drum set)
    std::string PcKeys = "pre", PcMouseWheel = "pre"; ///< "off", "pre" or "post"
    bool CanResize = true;
    /// A click made inside the editor when the keyboard focus leaves or enters it: x and
    /// y, with 0x4000 on x for a left click and on y for a right click; 0 for none.
    int MouseOffFocusX = 0, MouseOffFocusY = 0, MouseOnFocusX = 0, MouseOnFocusY = 0;
    std::string HelpFile;
    bool UsePrmMap = false, UsePrjMap = false;
    std::vector<ParamMapEntry> ParamMap;
    std::vector<int> ParamMapReverse; ///< plug-in parameter index to map row, -1 when unmapped

    // ---- Preset folders and files ----
    std::string FXBfolder; ///< folder of FXB files
    std::string FXBfile;   ///< FXB file last loaded by name
    std::string FXPfolder; ///< root folder of FXP banks
    std::string FXPbank;   ///< current FXP bank, a sub-folder of FXPfolder; may be empty

    // ---- The whole state a project kept for the slot ----
    /// The state file the project named, and the program current when it was saved (-1:
    /// none named). Kept so that saving a slot whose library did not load carries its state on.
    std::string ProjectStateFile;
    int ProjectStateProgram = -1;

protected:
    /// Runs a call into the plug-in with exceptions masked and under the guard. On a
    /// hardware fault the slot is quarantined, and on an exception too when
    /// quarantineOnException is set (processing: a plug-in that threw out of its process
    /// call has left its state half-updated); what names the call in the error line.
    bool callPlugIn(void (*fn)(void*), void* context, std::string_view what,
                    bool quarantineOnException = false) noexcept;

private:
    /// select >= 0: a state's bank, after which that program is made current.
    bool readBank(const std::string& fileName, int select);
    /// A preset of the user's, loaded into the current program; or, with isState, a
    /// state's program, loaded into program select when the plug-in has that program.
    bool readProgram(const std::string& fileName, bool isState, int select);
    void unloadWithReason(std::string_view reason, std::string readable);
    void quarantine(const platform::FaultReport& report, std::string_view what) noexcept;
    void logCall(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, double opt, VstIntPtr result) noexcept;
    std::string textCall(VstInt32 opcode, VstInt32 index, std::size_t bufferSize);
    bool enterMain(const char* entryName);
    bool loadIsolated();

    bool dittoWritten = false;
    /// Written before Quarantined is set, read after it was seen set.
    char quarantineText[200] = {};
    /// The refused-call error line was written once for this quarantine.
    std::atomic<bool> refusalReported{false};
};

} // namespace trelvo::host
