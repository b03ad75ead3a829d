#pragma once

#include <cstdint>
#include <string_view>

#include "vst/VstAbi.h"

namespace trelvo::host {

/// The host callback every plug-in receives at its entry point. It may be entered from any
/// thread at any time: inside the entry point, from effOpen, from the audio thread inside
/// processing, and from the plug-in's own threads. It takes no lock itself: the interface
/// work some opcodes do (editor idle, resizing the editor window, effIdentify) runs on the
/// calling thread without holding anything the audio thread needs, and only the hand-over of
/// a plug-in's MIDI output into the port buffers takes MidiLock, for that copy. Time info,
/// sample rate and block size are read field by field as atomics. It allocates nothing; its
/// log lines go through the lock-free queue.
VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

/// The 19 canDo texts the host knows, bit 0 first.
inline constexpr std::string_view kHostCanDoTexts[19] = {
    "sendVstEvents",
    "sendVstMidiEvent",
    "sendVstTimeInfo",
    "receiveVstEvents",
    "receiveVstMidiEvent",
    "receiveVstTimeInfo",
    "reportConnectionChanges",
    "acceptIOChanges",
    "sizeWindow",
    "asyncProcessing",
    "offline",
    "supplyIdle",
    "supportShell",
    "openFileSelector",
    "closeFileSelector",
    "editFile",
    "shellCategory",
    "startStopProcess",
    "conformsToWindowRules",
};

/// The host's canDo answer for a text: 1 when its bit is on, 0 when off or unknown.
/// Exact and case-sensitive.
int hostCanDo(std::uint32_t capabilities, std::string_view text) noexcept;

} // namespace trelvo::host
