// What the MIDI layer does on the audio and MIDI threads: input into the port buffers,
// plug-in output, and the engine's hooks of every block (halves, virtual ports, delivery,
// panic). Nothing here allocates or takes a lock but MidiLock.

#include <cmath>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "midi/MidiLock.h"
#include "midi/MidiRoute.h"
#include "rack/AudioEngine.h"
#include "rack/MidiLayer.h"
#include "rack/Rack.h"

namespace trelvo::midi {

namespace {

/// How many bytes a short message with this status has.
std::size_t shortLength(std::uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 2;
    case 0xF0:
        if (status == 0xF1 || status == 0xF3) return 2;
        if (status == 0xF2) return 3;
        return 1;
    default: return 3;
    }
}

} // namespace

// ---- Input ----

int MidiLayer::framesOf(MidiTime time) const noexcept {
    if (time.isFrame) return static_cast<int>(time.value);
    const std::int64_t ms = time.value - static_cast<std::int64_t>(engine.blockStartMs.load(std::memory_order_relaxed));
    // An event stamped before the block began belongs at its start.
    int frames = ms <= 0 ? 0 : static_cast<int>(std::lround(static_cast<double>(ms) * env.samplesPerMs()));
    const int blockSize = rack.host().engineBlockSize.load(std::memory_order_relaxed);
    if (env.audioActive() && frames >= blockSize) frames = blockSize - 1;
    return frames;
}

void MidiLayer::appendToPort(int position, const MidiEvent& event, const std::uint8_t* sysex,
                             std::size_t length) noexcept {
    if (position < 0 || position >= table.length) return;
    MidiEventBuffer* buffer = table.ports[static_cast<std::size_t>(position)].buffer.get();
    if (buffer == nullptr) return;
    if (!buffer->halves[currentWriteHalf].append(event, sysex, length))
        inputDrops.fetch_add(1, std::memory_order_relaxed);
}

void MidiLayer::shortMessage(int device, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                             MidiTime time) noexcept {
    if (engine.applicationStage.load(std::memory_order_acquire) < rack::kStageRunning) return;
    MidiLockGuard lock;
    if (!inputsOpen()) return;
    MidiEvent event;
    event.time = framesOf(time);
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    if ((status & 0xF0) == 0x80) event.data2 = 0; // a release velocity is not kept
    if ((status & 0xF0) == 0x90 && data2 == 0) {
        event.status = static_cast<std::uint8_t>(status - 0x10); // note on with velocity 0 is a note off
        event.data2 = 0;
    }
    appendToPort(device, event, nullptr, 0);
}

void MidiLayer::sysexPiece(int device, const std::uint8_t* bytes, std::size_t length, MidiTime time) noexcept {
    if (engine.applicationStage.load(std::memory_order_acquire) < rack::kStageRunning || length == 0) return;
    MidiLockGuard lock;
    if (!inputsOpen()) return;
    MidiEvent event;
    event.time = framesOf(time);
    event.status = 0xF0;
    event.data1 = static_cast<std::uint8_t>(length & 0xFF);
    appendToPort(device, event, bytes, length);
}

bool MidiLayer::sendToSlot(host::TVstPlugIn& slot, std::uint8_t status, std::uint8_t data1,
                           std::uint8_t data2) noexcept {
    MidiLockGuard lock;
    if (!slot.midi->slotBuffer) return false;
    MidiEvent event;
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    return slot.midi->slotBuffer->halves[currentWriteHalf].append(event);
}

// ---- Output ----

bool MidiLayer::sendToOutputPort(int position, const std::uint8_t* bytes, std::size_t length, int frame) noexcept {
    if (!outputs || position < 0 || position >= 64) return false;
    const int device = outPorts[static_cast<std::size_t>(position)].deviceIndex;
    return device >= 0 && outputs->enqueue(device, bytes, length, frame);
}

void MidiLayer::wakeOutput() noexcept {
    if (outputs) outputs->wake();
}

void MidiLayer::plugInOutput(int slotIndex, const VstEvents* events) noexcept {
    if (events == nullptr || events->numEvents <= 0 || slotIndex < 0 || slotIndex >= rack::kMaxSlots) return;
    host::TVstPlugIn& slot = rack.slot(slotIndex);
    MidiLockGuard lock;
    auto* const* list =
        reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
    // Into the slot port's half of this block, so that later slots hear it at once.
    const int position = slot.midi->slotPort.load(std::memory_order_relaxed);
    MidiEventBuffer* portBuffer = slot.isMidiVport && position >= 0 && position < table.length
                                      ? table.ports[static_cast<std::size_t>(position)].buffer.get()
                                      : nullptr;
    if (portBuffer != nullptr) {
        MidiHalf& half = portBuffer->halves[currentReadHalf];
        for (int i = 0; i < events->numEvents; ++i) {
            const VstEvent* event = list[i];
            if (event == nullptr) continue;
            MidiEvent stored;
            stored.time = event->deltaFrames;
            bool added = true;
            if (event->type == kVstMidiType) {
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
                stored.status = static_cast<std::uint8_t>(midi->midiData[0]);
                stored.data1 = static_cast<std::uint8_t>(midi->midiData[1]);
                stored.data2 = static_cast<std::uint8_t>(midi->midiData[2]);
                stored.spare = static_cast<std::uint8_t>(midi->midiData[3]);
                added = half.append(stored);
            } else if (event->type == kVstSysExType) {
                const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
                if (sysex->sysexDump == nullptr || sysex->dumpBytes <= 0) continue;
                stored.status = 0xF0;
                added = half.append(stored, reinterpret_cast<const std::uint8_t*>(sysex->sysexDump),
                                    static_cast<std::size_t>(sysex->dumpBytes));
            } else {
                continue;
            }
            if (!added) {
                diag::hookedLog("overload");
                break;
            }
        }
    }
    const int device = slot.midi->outputPort.load(std::memory_order_relaxed);
    if (device < 0 || !outputs) return;
    for (int i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr) continue;
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            const auto status = static_cast<std::uint8_t>(midi->midiData[0]);
            if (status == 0xF0) continue;
            sendToOutputPort(device, reinterpret_cast<const std::uint8_t*>(midi->midiData), shortLength(status),
                             midi->deltaFrames);
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            if (sysex->sysexDump != nullptr && sysex->dumpBytes > 0)
                sendToOutputPort(device, reinterpret_cast<const std::uint8_t*>(sysex->sysexDump),
                                 static_cast<std::size_t>(sysex->dumpBytes), sysex->deltaFrames);
        }
    }
    wakeOutput();
}

// ---- Engine hooks ----

void MidiLayer::beginBlockMidi() noexcept {
    // Called with MidiLock held, by the audio thread only. Sequentially consistent, so that
    // either the interface sees this pass running or the block sees every buffer it replaced.
    if ((blockPass.load(std::memory_order_relaxed) & 1) == 0) blockPass.fetch_add(1);
}

void MidiLayer::switchMidiHalves() noexcept {
    // Called with MidiLock held.
    currentReadHalf = currentWriteHalf;
    currentWriteHalf ^= 1;
}

void MidiLayer::virtualPortStep() noexcept {
    if (!inputsOpen() || table.length == 0) return;
    bool sent = false;
    for (std::size_t e = 0; e < vports.size(); ++e) {
        const VirtualPort& entry = vports[e];
        const int own = table.numInputs + static_cast<int>(e);
        MidiEventBuffer* ownBuffer = table.ports[static_cast<std::size_t>(own)].buffer.get();
        if (entry.name.empty() || ownBuffer == nullptr) continue;
        // A surface's routes are read at the end of the block (surfaceInputStep).
        if (isSurfacePortName(entry.name)) continue;
        MidiHalf& merged = ownBuffer->halves[currentReadHalf];
        merged.clear();
        for (int r = 0; r < entry.routes.count && r < 4; ++r) {
            const MidiRoute& route = entry.routes.routes[static_cast<std::size_t>(r)];
            const int position = route.portIndex;
            if (position < 0 || position >= table.length || position == own) continue;
            const MidiEventBuffer* sourceBuffer = table.ports[static_cast<std::size_t>(position)].buffer.get();
            if (sourceBuffer == nullptr) continue;
            const MidiHalf& source = sourceBuffer->halves[currentReadHalf];
            for (int i = 0; i < source.count(); ++i) {
                const MidiEvent& event = source.event(i);
                if (event.isSysex()) {
                    merged.insertInTimeOrder(event, source.sysex(event), event.sysexLength);
                    continue;
                }
                filterEvent(route, event, [&](const RoutedMessage& copy) {
                    MidiEvent routed = event;
                    routed.status = copy.status;
                    routed.data1 = copy.data1;
                    routed.data2 = copy.data2;
                    merged.insertInTimeOrder(routed, nullptr, 0);
                });
            }
        }
        if (merged.count() == 0 || !outputs || entry.outDevice < 0) continue;
        for (int i = 0; i < merged.count(); ++i) {
            const MidiEvent& event = merged.event(i);
            if (event.isSysex()) {
                if (event.sysexLength > 0)
                    sendToOutputPort(entry.outDevice, merged.sysex(event), event.sysexLength, event.time);
            } else {
                const std::uint8_t bytes[3] = {event.status, event.data1, event.data2};
                sendToOutputPort(entry.outDevice, bytes, shortLength(event.status), event.time);
            }
        }
        sent = true;
    }
    if (sent) wakeOutput();
}

void MidiLayer::deliverMidi(host::TVstPlugIn& slot) noexcept {
    if (!slot.PlugLoaded.load(std::memory_order_acquire) || !slot.hasEffect()) return;
    SlotMidi& midi = *slot.midi;
    VstEventBlock& block = midi.block;
    block.clear();
    std::uint32_t dropped = 0;
    for (int r = 0; r < midi.routes.count && r < 4; ++r) {
        const MidiRoute& route = midi.routes.routes[static_cast<std::size_t>(r)];
        const int position = route.portIndex;
        // A route that names no open port: this slot gets no MIDI in this block at all.
        const MidiEventBuffer* buffer = position >= 0 && position < table.length
                                            ? table.ports[static_cast<std::size_t>(position)].buffer.get()
                                            : nullptr;
        if (buffer == nullptr) return;
        const MidiHalf& half = buffer->halves[currentReadHalf];
        for (int e = 0; e < half.count(); ++e) {
            const MidiEvent& event = half.event(e);
            if (event.isSysex()) {
                if (!block.addSysex(event.time, half.sysex(event), event.sysexLength)) ++dropped;
                continue;
            }
            if ((event.status & 0xF0) == 0xC0 && midi.chgFxpOnMidiPc) {
                rack.commands().EnqueueRequest(rack::SlotCommandCode::SelectPreset, slot.SlotIdx, event.data1, 0);
                continue;
            }
            filterEvent(route, event, [&](const RoutedMessage& copy) {
                if (!block.addMidi(event.time, copy.status, copy.data1, copy.data2)) ++dropped;
            });
        }
    }
    if (midi.slotBuffer) {
        MidiHalf& own = midi.slotBuffer->halves[currentReadHalf];
        for (int e = 0; e < own.count(); ++e) {
            const MidiEvent& event = own.event(e);
            const bool added = event.isSysex() ? block.addSysex(event.time, own.sysex(event), event.sysexLength)
                                               : block.addMidi(event.time, event.status, event.data1, event.data2);
            if (!added) ++dropped;
        }
        own.clear();
    }
    if (dropped > 0) midi.droppedEvents.fetch_add(dropped, std::memory_order_relaxed);
    slot.ProcessEvents(block.events());
}

void MidiLayer::panic() noexcept {
    MidiLockGuard lock;
    if (table.numInputs <= 0 || table.length > 64) return;
    for (int i = 0; i < table.length; ++i) {
        MidiPort& port = table.ports[static_cast<std::size_t>(i)];
        MidiEventBuffer* buffer = port.buffer.get();
        if (buffer == nullptr || port.index < 0) continue;
        MidiHalf& half = buffer->halves[currentWriteHalf];
        half.clear();
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            MidiEvent allNotesOff;
            allNotesOff.status = static_cast<std::uint8_t>(0xB0 + channel);
            allNotesOff.data1 = 123;
            half.append(allNotesOff);
            MidiEvent sustainOff = allNotesOff;
            sustainOff.data1 = 64;
            half.append(sustainOff);
        }
    }
}

void MidiLayer::surfaceInputStep() noexcept {
    // Only in a processed block: with audio held the interface may be changing the routes.
    if ((blockPass.load(std::memory_order_relaxed) & 1) == 0) return;
    const int entryIndex = surfaceState.port();
    if (entryIndex < 0 || entryIndex >= kVirtualPorts || !inputsOpen() || table.length == 0) return;
    const VirtualPort& entry = vports[static_cast<std::size_t>(entryIndex)];
    const int own = table.numInputs + entryIndex;
    for (int r = 0; r < entry.routes.count && r < 4; ++r) {
        const int position = entry.routes.routes[static_cast<std::size_t>(r)].portIndex;
        if (position < 0 || position >= table.length || position == own) continue;
        const MidiEventBuffer* source = table.ports[static_cast<std::size_t>(position)].buffer.get();
        if (source == nullptr) continue;
        const MidiHalf& half = source->halves[currentReadHalf];
        for (int i = 0; i < half.count(); ++i) {
            const MidiEvent& event = half.event(i);
            surfaceState.interpret(event, event.isSysex() ? half.sysex(event) : nullptr);
        }
    }
}

void MidiLayer::sendToSurface(void* context, const std::uint8_t* bytes, std::size_t length) {
    // Called under MidiLock from SurfaceState::flush.
    auto* self = static_cast<MidiLayer*>(context);
    // Closing the layer clears this under MidiLock before it frees the outputs.
    if (!self->inputsOpen()) return;
    const int entryIndex = self->surfaceState.port();
    if (entryIndex < 0 || entryIndex >= kVirtualPorts) return;
    const VirtualPort& entry = self->vports[static_cast<std::size_t>(entryIndex)];
    if (self->outputs && entry.outDevice >= 0) self->sendToOutputPort(entry.outDevice, bytes, length, 0);
    // Into the surface's own port for the next block: a slot that routes from it hears
    // what the surface is sent.
    const int own = self->table.numInputs + entryIndex;
    if (own >= self->table.length) return;
    MidiEventBuffer* buffer = self->table.ports[static_cast<std::size_t>(own)].buffer.get();
    if (buffer == nullptr) return;
    MidiEvent event;
    event.status = bytes[0];
    if (bytes[0] == 0xF0) {
        buffer->halves[self->currentWriteHalf].append(event, bytes, length);
    } else {
        event.data1 = length > 1 ? bytes[1] : 0;
        event.data2 = length > 2 ? bytes[2] : 0;
        buffer->halves[self->currentWriteHalf].append(event);
    }
}

void MidiLayer::surfaceOutputStep() noexcept {
    // While the layer is closed the output waits for it to open again.
    if (inputsOpen() && surfaceState.flush(&MidiLayer::sendToSurface, this)) wakeOutput();
}

void MidiLayer::flushSurface() noexcept {
    if (inputsOpen() && surfaceState.flush(&MidiLayer::sendToSurface, this)) wakeOutput();
}

void MidiLayer::endOfBlockMidi() noexcept {
    {
        // Under the lock: a plug-in may add its output to a slot port's read half from any
        // thread, and with audio held this runs while the interface rebuilds the table.
        MidiLockGuard lock;
        surfaceInputStep();
        for (int i = 0; i < table.length; ++i)
            if (MidiEventBuffer* buffer = table.ports[static_cast<std::size_t>(i)].buffer.get())
                buffer->halves[currentReadHalf].clear();
    }
    if ((blockPass.load(std::memory_order_relaxed) & 1) != 0) blockPass.fetch_add(1, std::memory_order_release);
}

} // namespace trelvo::midi
