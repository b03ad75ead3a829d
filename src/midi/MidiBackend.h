#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trelvo::midi {

/// When an input event happened: a millisecond time stamp (the monotonic clock at
/// receipt) or, for sample-accurate sources, a frame inside the current block.
struct MidiTime {
    bool isFrame = false;
    std::int64_t value = 0;
};

/// What a backend hands to the MIDI layer when MIDI arrives. Thread: the backend's.
class MidiInputSink {
public:
    virtual ~MidiInputSink() = default;
    /// A short message of the input device with this index (of the layer's input list).
    virtual void shortMessage(int device, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                              MidiTime time) noexcept = 0;
    /// A piece of SysEx of at most 2048 bytes.
    virtual void sysexPiece(int device, const std::uint8_t* bytes, std::size_t length, MidiTime time) noexcept = 0;
};

/// One source of MIDI devices (the ALSA sequencer, JACK MIDI).
class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    virtual std::string name() const = 0;
    virtual std::vector<std::string> inputNames() = 0;
    virtual std::vector<std::string> outputNames() = 0;
    /// Opens input local (of this backend) so that its events reach sink as device.
    virtual bool openInput(int local, int device, MidiInputSink* sink) = 0;
    virtual void closeInput(int local) = 0;
    virtual bool openOutput(int local) = 0;
    virtual void closeOutput(int local) = 0;
    /// Sends one message (a short message or SysEx). frame: where in the current block it
    /// belongs, for backends that place events at frames. Thread: the output thread, or
    /// the audio thread for sample-accurate backends.
    virtual bool send(int local, const std::uint8_t* bytes, std::size_t length, int frame) noexcept = 0;
    /// True when output goes straight to the device at its frame (no output thread).
    virtual bool sampleAccurate() const noexcept { return false; }
};

/// Hands a SysEx dump on in pieces of at most 2048 bytes, in order.
template <class Piece> void forEachSysexPiece(const std::uint8_t* bytes, std::size_t length, Piece&& piece) {
    for (std::size_t offset = 0; offset < length; offset += 2048)
        piece(bytes + offset, length - offset < 2048 ? length - offset : std::size_t{2048});
}

/// The input and output device names of every backend present, for `trelvo --list-midi`.
void listMidiDevices(std::vector<std::string>& inputs, std::vector<std::string>& outputs);

/// The ALSA sequencer, or nothing (with the reason) when there is none.
std::unique_ptr<MidiBackend> openAlsaSequencer(std::string& whyNot);
/// Trelvo's own JACK MIDI ports while the JACK audio driver runs, or nothing.
std::unique_ptr<MidiBackend> openJackMidi(std::string& whyNot);
/// Every backend present, ALSA sequencer first; a reason for each one missing.
std::vector<std::unique_ptr<MidiBackend>> openMidiBackends(std::vector<std::string>& whyNot);

} // namespace trelvo::midi
