#include "host/IsolationChannel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

namespace trelvo::host::isolation {

namespace {

// The pointer array runs past the two entries the record declares.
VstEvent* const* slotsOf(const VstEvents* events) noexcept {
    return reinterpret_cast<VstEvent* const*>(reinterpret_cast<const unsigned char*>(events) +
                                              offsetof(VstEvents, events));
}
VstEvent** slotsOf(VstEvents* events) noexcept {
    return reinterpret_cast<VstEvent**>(reinterpret_cast<unsigned char*>(events) + offsetof(VstEvents, events));
}

} // namespace

Argument argumentOf(VstInt32 opcode, const void* ptr) noexcept {
    switch (opcode) {
    case effSetProgramName:
    case effCanDo:
    case effString2Parameter: return ptr != nullptr ? Argument::TextIn : Argument::None;
    case effGetProgramName:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effGetProgramNameIndexed:
    case effGetEffectName:
    case effGetErrorText:
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin: return ptr != nullptr ? Argument::TextOut : Argument::Refused;
    case effEditGetRect: return ptr != nullptr ? Argument::RectOut : Argument::Refused;
    case effEditOpen: return Argument::Window;
    case effGetChunk: return ptr != nullptr ? Argument::ChunkOut : Argument::Refused;
    case effSetChunk: return ptr != nullptr ? Argument::ChunkIn : Argument::Refused;
    case effProcessEvents: return ptr != nullptr ? Argument::EventsIn : Argument::Refused;
    case effGetInputProperties:
    case effGetOutputProperties:
    case effGetParameterProperties:
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
    case effGetMidiProgramCategory:
    case effGetMidiKeyName:
    case effBeginLoadBank:
    case effBeginLoadProgram: return ptr != nullptr ? Argument::Record : Argument::None;
    default: return ptr != nullptr ? Argument::Refused : Argument::None;
    }
}

std::size_t recordSize(VstInt32 opcode) noexcept {
    switch (opcode) {
    case effGetInputProperties:
    case effGetOutputProperties: return sizeof(VstPinProperties);
    case effGetParameterProperties: return sizeof(VstParameterProperties);
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram: return sizeof(MidiProgramName);
    case effGetMidiProgramCategory: return sizeof(MidiProgramCategory);
    case effGetMidiKeyName: return sizeof(MidiKeyName);
    case effBeginLoadBank:
    case effBeginLoadProgram: return sizeof(VstPatchChunkInfo);
    default: return 0;
    }
}

std::size_t textOutLimit(VstInt32 opcode) noexcept {
    switch (opcode) {
    case effGetEffectName:
    case effGetErrorText:
    case effGetVendorString:
    case effGetProductString: return 255;
    default: return 64;
    }
}

bool appendEvents(const VstEvents* events, EventList& list) noexcept {
    bool all = true;
    VstEvent* const* slots = slotsOf(events);
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = slots[i];
        if (event == nullptr) continue;
        if (list.count >= kMaxEvents) return false;
        Event& flat = list.events[list.count];
        flat = Event{};
        flat.type = event->type;
        flat.deltaFrames = event->deltaFrames;
        flat.flags = event->flags;
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            flat.noteLength = midi->noteLength;
            flat.noteOffset = midi->noteOffset;
            std::memcpy(flat.midiData, midi->midiData, 4);
            flat.detune = static_cast<std::int8_t>(midi->detune);
            flat.noteOffVelocity = static_cast<std::int8_t>(midi->noteOffVelocity);
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            const int length = sysex->sysexDump != nullptr ? std::max(0, sysex->dumpBytes) : 0;
            if (length > kMaxSysexBytes - list.sysexUsed) {
                all = false;
                continue;
            }
            flat.sysexOffset = list.sysexUsed;
            flat.sysexLength = length;
            std::memcpy(list.sysex + list.sysexUsed, sysex->sysexDump, static_cast<std::size_t>(length));
            list.sysexUsed += length;
        } else {
            continue;
        }
        ++list.count;
    }
    return all;
}

EventBuilder::EventBuilder()
    : header(static_cast<VstEvents*>(::operator new(offsetof(VstEvents, events) + sizeof(VstEvent*) * kMaxEvents))),
      midi(new VstMidiEvent[kMaxEvents]), sysex(new VstMidiSysexEvent[kMaxEvents]),
      bytes(new std::uint8_t[kMaxSysexBytes]) {}

EventBuilder::~EventBuilder() {
    ::operator delete(header);
    delete[] midi;
    delete[] sysex;
    delete[] bytes;
}

VstEvents* EventBuilder::build(const EventList& list) noexcept {
    const int count = std::clamp(list.count, 0, kMaxEvents);
    header->numEvents = 0;
    header->reserved = 0;
    for (int i = 0; i < count; ++i) {
        const Event& flat = list.events[i];
        VstEvent* made = nullptr;
        if (flat.type == kVstMidiType) {
            VstMidiEvent& event = midi[i];
            event = VstMidiEvent{};
            event.type = kVstMidiType;
            event.byteSize = sizeof(VstMidiEvent);
            event.deltaFrames = flat.deltaFrames;
            event.flags = flat.flags;
            event.noteLength = flat.noteLength;
            event.noteOffset = flat.noteOffset;
            std::memcpy(event.midiData, flat.midiData, 4);
            event.detune = static_cast<char>(flat.detune);
            event.noteOffVelocity = static_cast<char>(flat.noteOffVelocity);
            made = reinterpret_cast<VstEvent*>(&event);
        } else if (flat.type == kVstSysExType) {
            if (flat.sysexOffset < 0 || flat.sysexLength < 0 || flat.sysexOffset > kMaxSysexBytes - flat.sysexLength)
                continue;
            std::memcpy(bytes + flat.sysexOffset, list.sysex + flat.sysexOffset,
                        static_cast<std::size_t>(flat.sysexLength));
            VstMidiSysexEvent& event = sysex[i];
            event = VstMidiSysexEvent{};
            event.type = kVstSysExType;
            event.byteSize = sizeof(VstMidiSysexEvent);
            event.deltaFrames = flat.deltaFrames;
            event.flags = flat.flags;
            event.dumpBytes = flat.sysexLength;
            event.sysexDump = reinterpret_cast<char*>(bytes + flat.sysexOffset);
            made = reinterpret_cast<VstEvent*>(&event);
        }
        if (made != nullptr) slotsOf(header)[header->numEvents++] = made;
    }
    return header;
}

} // namespace trelvo::host::isolation
