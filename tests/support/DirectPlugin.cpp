#include "support/DirectPlugin.h"

#include <cstddef>
#include <cstring>
#include <mutex>
#include <utility>

namespace trelvo::test {

namespace {

std::mutex gCallsMutex;
std::vector<HostCall> gCalls;

VstIntPtr minimalHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    HostCall call{opcode, index, value, opt, {}};
    if (opcode == audioMasterProcessEvents && ptr != nullptr) {
        const auto* events = static_cast<const VstEvents*>(ptr);
        auto* const* slots =
            reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
        for (int i = 0; i < events->numEvents; ++i) {
            const VstEvent* event = slots[i];
            std::vector<unsigned char> bytes;
            if (event->type == kVstMidiType) {
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
                bytes.assign(midi->midiData, midi->midiData + 3);
            } else if (event->type == kVstSysExType) {
                const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
                bytes.assign(sysex->sysexDump, sysex->sysexDump + sysex->dumpBytes);
            }
            bytes.insert(bytes.begin(), static_cast<unsigned char>(event->deltaFrames));
            call.events.push_back(std::move(bytes));
        }
    }
    {
        std::lock_guard lock(gCallsMutex);
        gCalls.push_back(std::move(call));
    }
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetSampleRate: return 48000;
    case audioMasterGetBlockSize: return 256;
    default: return 0;
    }
}

} // namespace

DirectPlugin::DirectPlugin(const std::string& path) {
    takeHostCalls();
    if (!library.open(path)) {
        loadError = library.error();
        return;
    }
    auto entry = reinterpret_cast<VstPluginMainProc>(library.symbol("VSTPluginMain"));
    if (entry == nullptr) entry = reinterpret_cast<VstPluginMainProc>(library.symbol("main"));
    if (entry == nullptr) {
        loadError = "no entry point";
        return;
    }
    aeffect = entry(&minimalHost);
    if (aeffect == nullptr) loadError = "entry point returned nil";
}

DirectPlugin::~DirectPlugin() {
    if (aeffect != nullptr) {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
    }
}

VstIntPtr DirectPlugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return aeffect->dispatcher(aeffect, opcode, index, value, ptr, opt);
}

void DirectPlugin::open(float sampleRate, int blockSize) {
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
}

std::string DirectPlugin::text(VstInt32 opcode, VstInt32 index) {
    char buffer[256] = {};
    dispatch(opcode, index, 0, buffer);
    return buffer;
}

void DirectPlugin::process(std::vector<float>& left, std::vector<float>& right, const std::vector<float>& inLeft,
                           const std::vector<float>& inRight) {
    std::vector<float> silentLeft(left.size()), silentRight(right.size());
    float* inputs[2] = {inLeft.empty() ? silentLeft.data() : const_cast<float*>(inLeft.data()),
                        inRight.empty() ? silentRight.data() : const_cast<float*>(inRight.data())};
    float* outputs[2] = {left.data(), right.data()};
    aeffect->processReplacing(aeffect, inputs, outputs, static_cast<VstInt32>(left.size()));
}

void DirectPlugin::sendMidi(const std::vector<std::array<int, 4>>& frameStatusData) {
    std::vector<VstMidiEvent> events(frameStatusData.size());
    std::vector<unsigned char> storage(offsetof(VstEvents, events) + sizeof(VstEvent*) * (events.size() + 2));
    auto* block = reinterpret_cast<VstEvents*>(storage.data());
    auto** slots = reinterpret_cast<VstEvent**>(storage.data() + offsetof(VstEvents, events));
    for (std::size_t i = 0; i < events.size(); ++i) {
        VstMidiEvent& event = events[i];
        event = VstMidiEvent{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = frameStatusData[i][0];
        event.midiData[0] = static_cast<char>(frameStatusData[i][1]);
        event.midiData[1] = static_cast<char>(frameStatusData[i][2]);
        event.midiData[2] = static_cast<char>(frameStatusData[i][3]);
        slots[i] = reinterpret_cast<VstEvent*>(&event);
    }
    block->numEvents = static_cast<VstInt32>(events.size());
    dispatch(effProcessEvents, 0, 0, block);
}

std::vector<HostCall> DirectPlugin::takeHostCalls() {
    std::lock_guard lock(gCallsMutex);
    return std::exchange(gCalls, {});
}

} // namespace trelvo::test
