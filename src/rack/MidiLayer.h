#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiBackend.h"
#include "midi/MidiEvent.h"
#include "midi/MidiOutput.h"
#include "midi/MidiRoute.h"
#include "persist/IniFile.h"
#include "rack/EngineHooks.h"
#include "rack/SurfaceState.h"
#include "vst/VstAbi.h"

namespace trelvo::rack {
class AudioEngine;
class Rack;
} // namespace trelvo::rack

namespace trelvo::midi {

/// True for the names of the control surfaces' own ports ("MCU", "LCU", "BCRU").
bool isSurfacePortName(const std::string& name);

/// setMIDI flags.
inline constexpr int iOpen = 16;
inline constexpr int iClose = 32;
inline constexpr int iHalt = 0x1000;

/// The MIDI layer: the input and output devices of every backend, the port table whose
/// buffers input handlers fill and the engine reads, the output-port table, routing of
/// each block's events to the plug-ins, panic, and the "MIDIinputs" / "MIDIoutputs"
/// settings sections. It is the engine's hooks for MIDI.
///
/// Port buffers are put in and taken out of the table under MidiLock by the user interface
/// thread; one taken out is freed there only once no block can still be reading it.
class MidiLayer : public rack::EngineHooks, public MidiInputSink {
public:
    /// What the layer needs from the rest of the program.
    struct Environment {
        std::string settingsFile;
        std::function<void()> haltAudio = [] {};   ///< setAllowed(pause)
        std::function<void()> resumeAudio = [] {}; ///< setAllowed(resume)
        std::function<int()> settleMs = [] { return 0; };
        /// Waits the settle time between the steps of opening and closing.
        std::function<void(int milliseconds)> sleep;
        std::function<float()> samplesPerMs = [] { return 48.0f; };
        std::function<bool()> audioActive = [] { return false; };
        /// The backends to use; by default the ALSA sequencer and JACK MIDI, where present.
        std::function<std::vector<std::unique_ptr<MidiBackend>>(std::vector<std::string>& whyNot)> backends;
    };

    /// A named merge point of up to four routes, readable as its 'P' port, which can pass
    /// what it merged on to a MIDI output device.
    struct VirtualPort {
        std::string name;    ///< empty: not in use; "MCU", "LCU", "BCRU": a control surface
        RouteBlock routes;   ///< count 0 after a reset
        std::string outName; ///< "oMid1-Port": an output alias
        int outDevice = -1;
    };

    MidiLayer(rack::Rack& rack, rack::AudioEngine& engine, Environment environment);
    ~MidiLayer() override;
    MidiLayer(const MidiLayer&) = delete;
    MidiLayer& operator=(const MidiLayer&) = delete;

    /// Opens (iOpen), closes (iClose) or both; iHalt leaves audio as it is while closing.
    /// Thread: user interface.
    void setMIDI(int flags);
    /// True once the layer is open and complete; blocks route MIDI only then. Thread: any.
    bool inputsOpen() const noexcept { return inputsOpened.load(); }

    // ---- Devices and ports. Thread: user interface ----
    const std::vector<std::string>& inputDeviceNames() const noexcept { return inputNames; }
    std::vector<std::string> outputDeviceNames() const;
    bool openPort(int position, const std::string& name);
    void closePort(int position);
    bool openOutputPort(int position, const std::string& alias);
    void closeOutputPort(int position);
    /// The table position of an open port with that name; "DEFAULT" is the default port.
    int resolvePort(const std::string& name) const;
    /// The output-port position of an alias, -1 when none.
    int resolveOutputAlias(const std::string& alias) const;
    /// Points every slot's "oMid1-Port" at an output: an output alias of that name, else
    /// the output device of the virtual port of that name.
    void resolveSlotOutputs();
    /// Resolves every slot route's port name against the table.
    void resolveSlotRoutes();

    // ---- Virtual ports and slot ports. Thread: user interface, audio held ----
    /// Section "vMIDIports": the 16 entries, their 'P' ports, outputs and the default port.
    /// Without the section, one port "MAIN" takes its routes from the first four open inputs.
    void readVirtualPorts(persist::IniHandle& handle);
    /// Writes section "vMIDIports": "DefaultPort" and every named entry from 01.
    void writeVirtualPorts(persist::IniHandle& handle);
    /// Gives each slot with "isMidiVport", in rack order, a slot port "SlotID-<id>".
    void assignSlotPorts();
    /// Closes every slot port (before the rack changes).
    void releaseSlotPorts();
    /// Makes an open port the one "DEFAULT" routes read (a render's own input).
    void useAsDefaultPort(int position);
    const std::array<VirtualPort, kVirtualPorts>& virtualPorts() const noexcept { return vports; }
    std::array<VirtualPort, kVirtualPorts>& virtualPorts() noexcept { return vports; }
    /// The aliases of the inputs and outputs that are open, and those the settings keep for
    /// devices that are absent now.
    std::vector<std::string> inputAliases() const;
    std::vector<std::string> absentInputAliases() const;
    std::vector<std::string> outputAliases() const;
    std::vector<std::string> absentOutputAliases() const;
    /// The devices the settings name that are not present now: device name and port name.
    std::vector<std::pair<std::string, std::string>> absentInputDevices() const;
    std::vector<std::pair<std::string, std::string>> absentOutputDevices() const;
    /// The name of an open port of the table; empty when the position holds none.
    std::string portName(int position) const;
    /// The table position of the default port, -1 when none.
    int defaultPort() const noexcept { return defaultPosition; }
    /// The control surface: an entry named "MCU", "LCU" or "BCRU" is taken by it when the
    /// ports are read; what its routes carry is read by the surface at the end of each block
    /// instead of being merged, and its output is flushed after the block to the entry's
    /// output device and into the entry's own port (a simulated surface in a slot reads it
    /// there).
    rack::SurfaceState& surface() noexcept { return surfaceState; }
    MidiPortTable& ports() noexcept { return table; }
    const MidiPortTable& ports() const noexcept { return table; }
    const MidiOutPort& outputPort(int position) const { return outPorts[static_cast<std::size_t>(position)]; }
    int numOutputPorts() const noexcept { return numOutputs; }
    std::string defaultPortName = "MAIN";

    // ---- Input handlers. Thread: the backends' input threads ----
    void shortMessage(int device, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      MidiTime time) noexcept override;
    void sysexPiece(int device, const std::uint8_t* bytes, std::size_t length, MidiTime time) noexcept override;

    /// Queues a short message into a slot's own MIDI input at time 0: the plug-in receives
    /// it at the start of the next block, after the events of its routes. Thread: any.
    bool sendToSlot(host::TVstPlugIn& slot, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;

    // ---- Output. Thread: any, lock-free ----
    /// Queues a message for the output device of an output port.
    bool sendToOutputPort(int position, const std::uint8_t* bytes, std::size_t length, int frame) noexcept;
    void wakeOutput() noexcept;
    /// A plug-in's outgoing events: into its slot port (read by later slots in the same
    /// block) and to its slot's output device. Thread: any (usually audio).
    void plugInOutput(int slot, const VstEvents* events) noexcept;

    // ---- Engine hooks. Thread: audio ----
    void beginBlockMidi() noexcept override;
    void switchMidiHalves() noexcept override;
    /// Merges each virtual port's routes into its 'P' port in time order and passes the
    /// result on to the port's output device.
    void virtualPortStep() noexcept override;
    bool midiInputOpen() const noexcept override { return inputsOpen(); }
    void deliverMidi(host::TVstPlugIn& slot) noexcept override;
    void panic() noexcept override;
    void endOfBlockMidi() noexcept override;
    void surfaceOutputStep() noexcept override;
    /// Flushes the surface's output between blocks, so that it goes out while audio is
    /// stopped or held too. Thread: user interface.
    void flushSurface() noexcept;

    /// cmdPanic: all notes off and sustain off on every channel of every open port.
    /// Thread: any.
    void cmdPanic() noexcept { panic(); }

    /// Lines about events dropped at full buffers since the last call, for the log.
    /// Thread: user interface (the idle timer).
    std::vector<std::string> takeDropReports();

    /// Writes sections "MIDIinputs" and "MIDIoutputs". Thread: user interface.
    void writeDeviceSections(persist::IniHandle& handle);

    int readHalf() const noexcept { return currentReadHalf; }

private:
    void openLayer();
    void closeLayer(bool halt);
    void settle();
    void readDeviceSections(persist::IniHandle& handle);
    void appendToPort(int position, const MidiEvent& event, const std::uint8_t* sysex, std::size_t length) noexcept;
    int framesOf(MidiTime time) const noexcept;
    /// Returns once no block that may have read the port table without MidiLock before this
    /// call is still running: at once when none is between beginBlockMidi and the end of
    /// endOfBlockMidi, else when that block ends. A buffer taken out of the table is freed
    /// only after this. Thread: user interface.
    void waitForBlockToLeavePorts() const;
    void surfaceInputStep() noexcept;
    static void sendToSurface(void* context, const std::uint8_t* bytes, std::size_t length);

    rack::Rack& rack;
    rack::AudioEngine& engine;
    Environment env;
    std::vector<std::unique_ptr<MidiBackend>> backends;
    struct InputDevice {
        MidiBackend* backend;
        int local;
        bool open = false;
    };
    std::vector<InputDevice> inputs;
    std::vector<std::string> inputNames;
    std::unique_ptr<TMidiOutputs> outputs;
    std::atomic<bool> inputsOpened{false};

    MidiPortTable table;
    std::array<VirtualPort, kVirtualPorts> vports;
    rack::SurfaceState surfaceState;
    int defaultPosition = -1;
    bool inputSectionFound = true;
    std::array<MidiOutPort, 64> outPorts;
    int numOutputs = 0;
    std::vector<std::string> unmatchedInputs, unmatchedOutputs; ///< MIDIin0s, MIDIout0s

    /// Odd while a processed block may read the port buffers without MidiLock (from
    /// beginBlockMidi to the end of endOfBlockMidi); written by the audio thread only.
    std::atomic<std::uint64_t> blockPass{0};

    // Guarded by MidiLock.
    int currentReadHalf = 1;
    int currentWriteHalf = 0;
    std::atomic<std::uint64_t> inputDrops{0};
    std::uint64_t reportedInputDrops = 0;
};

} // namespace trelvo::midi
