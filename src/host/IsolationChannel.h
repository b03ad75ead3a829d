#pragma once

// The memory an isolated slot shares with its worker process: one anonymous memory file,
// mapped by both, holding what the host tells the worker at start, a channel for audio
// blocks and a channel for every other call. Each channel is a request and an answer:
// the side that writes a message fills it, then raises its 32-bit sequence word and wakes
// the other side, which waits on that word (a futex). Nothing in here points into either
// process: pointers never cross.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "vst/VstAbi.h"

namespace trelvo::host::isolation {

inline constexpr std::uint32_t kLayoutVersion = 1;
inline constexpr int kMaxChannels = 64;       ///< audio channels in each direction
inline constexpr int kMaxFrames = 8192;       ///< frames in one block
inline constexpr int kMaxEvents = 512;        ///< events in one block, each direction
inline constexpr int kMaxSysexBytes = 65536;  ///< system-exclusive bytes in one block, each direction
inline constexpr int kMaxBlockCallbacks = 64; ///< host calls the plug-in makes while it processes one block
inline constexpr int kAsyncSlots = 256;       ///< host calls from the plug-in's own threads, waiting for the host
inline constexpr std::size_t kControlBytes = std::size_t{32} << 20; ///< data of one call (chunks, texts)
inline constexpr int kPathBytes = 4096;

/// The effect record's facts, sent with every answer: a plug-in may change them at any time.
struct EffectFacts {
    std::int32_t magic = 0;
    std::int32_t numPrograms = 0, numParams = 0, numInputs = 0, numOutputs = 0, flags = 0;
    std::int32_t initialDelay = 0, uniqueID = 0, version = 0;
    float ioRatio = 0.0f;
    std::int32_t hasProcess = 0, hasReplacing = 0;
};

/// Written by the host before the worker starts; read-only afterwards.
struct StartFacts {
    std::uint32_t layoutVersion = 0;
    std::int32_t hostPid = 0;
    std::int32_t slotIndex = 0;
    float sampleRate = 44100.0f;
    std::int32_t blockSize = 512;
    std::int32_t vendorVersion = 1;
    std::uint32_t capabilities = 0;
    std::int32_t language = 0;
    std::int32_t inputLatency = 0, outputLatency = 0;
    std::int32_t numAutomatableParams = 0, parameterQuantization = 0;
    char vendor[64] = {};
    char product[64] = {};
    char directory[kPathBytes] = {};
    char library[kPathBytes] = {};
};

/// How the worker's start went, before any dispatcher call.
enum class LoadStatus : std::int32_t { Pending = 0, Loaded, NoFile, NotLibrary, NoEntry, NoEffect, Threw };

/// One VST event, flattened: system-exclusive data lives in the list's byte area.
struct Event {
    std::int32_t type = 0;
    std::int32_t deltaFrames = 0;
    std::int32_t flags = 0;
    std::int32_t noteLength = 0, noteOffset = 0;
    std::uint8_t midiData[4] = {};
    std::int8_t detune = 0, noteOffVelocity = 0;
    std::int32_t sysexOffset = 0, sysexLength = 0;
};

struct EventList {
    std::int32_t count = 0;
    std::int32_t sysexUsed = 0;
    Event events[kMaxEvents];
    std::uint8_t sysex[kMaxSysexBytes];
};

/// A host call the plug-in made: an opcode without pointer data.
struct Callback {
    std::int32_t opcode = 0, index = 0;
    std::int64_t value = 0;
    float opt = 0.0f;
};

/// Changes the engine's threads make between blocks, applied before the next one runs.
enum : std::int32_t { kNoChange = -1 };

/// One block, host to worker and back. Only the engine's threads write the request (one
/// at a time: each block of a slot runs on one thread), only the worker's audio thread the
/// answer.
struct AudioChannel {
    alignas(64) std::atomic<std::uint32_t> request{0}; ///< the sequence number of the block posted
    alignas(64) std::atomic<std::uint32_t> answer{0};  ///< the sequence number of the block done
    alignas(64) std::int32_t frames = 0;
    std::int32_t replacing = 1; ///< 1: processReplacing, 0: process (accumulating), -1: changes only
    std::int32_t numInputs = 0, numOutputs = 0;
    std::int32_t mainsChange = kNoChange;  ///< effMainsChanged to send first
    std::int32_t bypassChange = kNoChange; ///< effSetBypass to send first
    VstTimeInfo time{};
    EventList in;
    // The answer.
    std::int32_t bypassResult = 0;
    std::int32_t callbackCount = 0;
    Callback callbacks[kMaxBlockCallbacks];
    EventList out;
    alignas(64) float audio[2 * kMaxChannels * kMaxFrames]; ///< inputs, then outputs, kMaxFrames apart
};

inline float* inputChannel(AudioChannel& channel, int index) noexcept {
    return channel.audio + static_cast<std::size_t>(index) * kMaxFrames;
}
inline float* outputChannel(AudioChannel& channel, int index) noexcept {
    return channel.audio + static_cast<std::size_t>(kMaxChannels + index) * kMaxFrames;
}

/// What travels on the control channel.
enum class Message : std::int32_t {
    None = 0,
    // Host to worker.
    Dispatch,       ///< opcode, index, value, opt; data as the opcode needs
    SetParameter,   ///< index, opt
    GetParameter,   ///< index; the answer's opt
    CallbackAnswer, ///< result of the callback the worker asked for
    Quit,
    // Worker to host.
    Answer,   ///< result, opt, data
    Callback, ///< opcode, index, value, opt: a host call from inside the request
};

/// Calls from the user-interface side: one at a time (the host serialises them). During a
/// request the worker may send Callback messages first, each answered by the host, before
/// its Answer.
struct ControlChannel {
    alignas(64) std::atomic<std::uint32_t> toWorker{0};
    alignas(64) std::atomic<std::uint32_t> toHost{0};
    alignas(64) Message message = Message::None;
    std::uint32_t requestId = 0; ///< host: the request's number; the worker's answer repeats it
    std::int32_t argument = 0;   ///< a Dispatch request's Argument
    std::int32_t opcode = 0, index = 0;
    std::int64_t value = 0;
    double opt = 0.0;
    std::int64_t result = 0;
    std::int64_t dataSize = 0;
    EffectFacts facts;
    alignas(64) std::uint8_t data[kControlBytes];
};

/// Host calls from the plug-in's own threads: a ring the worker fills (its producers
/// serialised in the worker) and the host's keeper empties.
struct AsyncRing {
    alignas(64) std::atomic<std::uint32_t> head{0};   ///< next to write (worker)
    alignas(64) std::atomic<std::uint32_t> tail{0};   ///< next to read (host)
    alignas(64) std::atomic<std::uint32_t> signal{0}; ///< raised with every write; the keeper waits on it
    Callback slots[kAsyncSlots];
};

struct SharedBlock {
    StartFacts start;
    alignas(64) std::atomic<std::int32_t> loadStatus{0}; ///< LoadStatus
    alignas(64) std::atomic<std::uint32_t> loadSignal{0};
    char loadError[512] = {};
    EffectFacts loadedFacts;
    AsyncRing async;
    AudioChannel audio;
    ControlChannel control;
};

/// The descriptor the worker finds its shared memory on.
inline constexpr int kSharedDescriptor = 3;

/// The worker's exit code when its start or its memory was unusable.
inline constexpr int kWorkerSetupFailed = 70;

/// Runs the worker: maps the shared memory on kSharedDescriptor, loads the library its start
/// facts name, and serves both channels until told to quit or the host is gone.
int runWorker() noexcept;

} // namespace trelvo::host::isolation

namespace trelvo::host::isolation {

/// How a dispatcher call's pointer argument crosses between the processes.
enum class Argument {
    None,     ///< no pointer (or one the opcode ignores)
    TextIn,   ///< a C string the plug-in reads
    TextOut,  ///< a text buffer the plug-in fills
    RectOut,  ///< ERect**: the plug-in points it at its rectangle
    Window,   ///< the parent window's id
    ChunkOut, ///< void**: the plug-in points it at its chunk; the result is the size
    ChunkIn,  ///< a chunk of value bytes the plug-in reads
    EventsIn, ///< VstEvents
    Record,   ///< a fixed-size record the plug-in reads and fills (recordSize)
    Refused,  ///< a pointer that cannot cross: the call is not made
};

Argument argumentOf(VstInt32 opcode, const void* ptr) noexcept;
/// The size of the record a Record opcode passes.
std::size_t recordSize(VstInt32 opcode) noexcept;
/// The longest text (without its terminating zero) a TextOut opcode hands back: the size
/// of the buffer hosts give for it, less one.
std::size_t textOutLimit(VstInt32 opcode) noexcept;

/// Appends the MIDI and system-exclusive events of events to list; false when some did not
/// fit (they are left out). Allocates nothing.
bool appendEvents(const VstEvents* events, EventList& list) noexcept;

/// Turns an EventList back into the VstEvents a plug-in reads, in memory of its own that
/// stays valid until the next build. Allocates only when constructed.
class EventBuilder {
public:
    EventBuilder();
    ~EventBuilder();
    EventBuilder(const EventBuilder&) = delete;
    EventBuilder& operator=(const EventBuilder&) = delete;
    VstEvents* build(const EventList& list) noexcept;

private:
    VstEvents* header = nullptr;
    VstMidiEvent* midi = nullptr;
    VstMidiSysexEvent* sysex = nullptr;
    std::uint8_t* bytes = nullptr;
};

} // namespace trelvo::host::isolation
