#pragma once

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::rack {

/// What the audio engine asks of the MIDI layer and the control surfaces during a block.
/// Every call is made on the audio thread (or the work thread for deliverMidi) and must
/// not block or allocate. The defaults do nothing: a rack without MIDI still plays.
class EngineHooks {
public:
    virtual ~EngineHooks() = default;

    /// A processed block begins: from here to the end of endOfBlockMidi the audio thread and
    /// the work thread may read the MIDI port buffers without MidiLock. Called with MidiLock
    /// held, just before switchMidiHalves.
    virtual void beginBlockMidi() noexcept {}
    /// Switches the port buffers' halves; called with MidiLock held.
    virtual void switchMidiHalves() noexcept {}
    /// The virtual-port routing step, before the strips run.
    virtual void virtualPortStep() noexcept {}
    /// True while the MIDI input layer is open; only then is MIDI delivered to slots.
    virtual bool midiInputOpen() const noexcept { return false; }
    /// Builds the slot's events from its routes and its own buffer and sends them with
    /// effProcessEvents.
    virtual void deliverMidi(host::TVstPlugIn& slot) noexcept {}
    /// MIDI panic (all notes off, sustain off on every channel).
    virtual void panic() noexcept {}
    /// Empties the read halves and resets the block's output count; ends what beginBlockMidi
    /// began. Called in every block, processed or not.
    virtual void endOfBlockMidi() noexcept {}
    /// The control-surface output step.
    virtual void surfaceOutputStep() noexcept {}
};

} // namespace trelvo::rack
